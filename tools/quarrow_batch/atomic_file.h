// Files that appear whole or not at all: content goes to a temporary file in
// the target's own folder (so the rename stays on one file system), which is
// then renamed over the target.
#pragma once

#include <functional>
#include <string>

namespace quarrow::batch {

// A name for a temporary file next to `path`, unique to this process.
std::string temporary_path_for(const std::string& path);

// Writes `content` to `path` atomically. False with `error` set on failure.
bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error);

// Calls `write(temp)` to fill a temporary file, then renames it to `path`.
// `write` returns false when it failed; the temporary file is then removed.
bool replace_atomically(const std::string& path,
                        const std::function<bool(const std::string& temp)>& write,
                        std::string& error);

// Makes `target` a file with the bytes of `source`: a hard link when both lie
// on one file system, else a copy; in both cases through a temporary name and
// a rename, so an existing target is replaced whole.
bool place_file(const std::string& source, const std::string& target, std::string& error);

}  // namespace quarrow::batch
