// Path toolkit: Windows-style path texts on any platform.
//
// Paths are narrow byte strings. Both '\' and '/' are accepted as separators
// on input; only '\' is written. A parsed folder renders with exactly one
// trailing backslash. On this platform there are no drive letters: a rooted
// text such as "/data" keeps an empty root and renders as "\data\", and a
// drive-relative text such as "C:foo" is taken relative to that drive's root
// ("C:\foo\"). Texts reach the file system only through native_path(), which
// turns every backslash into a slash.
#pragma once

#include <string>
#include <vector>

namespace quarrow {

// A folder path, optionally followed by a file name.
struct ParsedPath {
  bool relative = false;              // no drive, server or root separator
  std::string root;                   // "", "X:" or "\\server" as written
  std::vector<std::string> segments;  // folder names below the root
  std::string leaf_name;              // file name after the folders; parse leaves it empty

  // Replaces the whole content by the parsed, normalised form of `text`.
  // Always succeeds and returns true.
  bool parse(const std::string& text);

  // Removes empty and "." segments and resolves ".." against the segment
  // before it; a leading ".." stays only in a relative path. Returns true.
  bool normalize();

  // Renders root, segments and leaf name with backslashes; a folder part
  // always ends in one separator.
  std::string to_string() const;
};

// True for '\' and '/'.
bool is_separator(char c);

// Parses `folder`, appends `name` as its last folder and renders the result
// (which ends in a backslash).
std::string join_dir(const std::string& folder, const std::string& name);

// `folder`, a backslash unless `folder` is empty or ends in a separator, then
// `name`. No other change to either text.
std::string join_path(const std::string& folder, const std::string& name);

// `name` if `ext` is empty, else `name` + "." (unless `ext` starts with '.') + `ext`.
std::string with_extension(const std::string& name, const std::string& ext);

// join_path(folder, with_extension(name, ext)).
std::string join_path_ext(const std::string& folder, const std::string& name,
                          const std::string& ext);

// The text after the last separator, cut before its last '.' unless that dot
// is the first character of the name.
std::string file_stem(const std::string& path);

// The form of a rendered text that the file system accepts: every backslash
// becomes a slash. Used wherever a path reaches the file system, a file
// stream or an image reader/writer.
std::string native_path(const std::string& text);

// True when the file system reports a directory at `path` (one trailing
// separator is ignored).
bool is_directory(const std::string& path);

// True when the file system reports a regular file or a FIFO at `path` (one
// trailing separator is ignored).
bool is_file(const std::string& path);

// Creates one directory; its parent must exist. False when it cannot be
// created, also when it exists already.
bool make_directory(const std::string& path);

}  // namespace quarrow
