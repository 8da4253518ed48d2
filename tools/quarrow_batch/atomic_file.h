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

// Moves `source` to `target`, replacing it whole: a rename on one file
// system, else a copy to a temporary name beside `target`, a rename and the
// removal of `source`. A move rather than a link, so that the data folder
// and the shard never share a file that a later run rewrites in place.
bool move_file(const std::string& source, const std::string& target, std::string& error);

}  // namespace quarrow::batch
