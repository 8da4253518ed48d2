// Replacing a result file as a whole: the new content is written under a
// temporary name in the same folder and renamed over the final name only once
// it is complete. A write that fails, throws or is cut short by the process
// ending therefore leaves the previous file intact (or no file), never a
// truncated one.
#pragma once

#include <functional>
#include <string>

namespace quarrow {

// Writes the file at `path` (a file-system path, see native_path) by calling
// `write` with the name to write to, then puts the result in place.
//
// When `path` is absent or a regular file, `write` gets a fresh temporary
// name beside it that keeps its extension ("a.png" gives "a.tmp-XXXXXX.png",
// so encoders that choose by extension still work). An existing file keeps
// its permission bits; a symbolic link to a regular file has its target
// replaced, as writing through the link would. When `write` returns true the
// temporary file is flushed to disk and renamed over the final name.
//
// When `path` names something else (a device such as /dev/full, a pipe, a
// folder), `write` is given `path` itself: renaming over those would replace
// the device or fail where writing into them is what was asked.
//
// Returns false, with the temporary file removed, when the temporary file
// cannot be created, `write` returns false, or flushing or renaming fails;
// an existing file that may not be written to is left alone and gives false
// as well. An exception from `write` removes the temporary file and passes on.
bool replace_file(const std::string& path, const std::function<bool(const std::string&)>& write);

// The name replace_file writes to first for `path`, with `tag` as the
// distinguishing part: replacement_name("d/a.png", "x") is "d/a.tmp-x.png".
std::string replacement_name(const std::string& path, const std::string& tag);

}  // namespace quarrow
