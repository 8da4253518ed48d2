// Path toolkit (see path_utils.h).
#include "data/path_utils.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cctype>

namespace quarrow {
namespace {

// The platform has no drive letters, so there is no current drive: a rooted
// text keeps an empty root.
std::string current_drive_root() { return std::string(); }

// Drops one trailing separator so that "x\" and "x" name the same entry.
std::string without_trailing_separator(const std::string& path) {
  if (!path.empty() && is_separator(path.back())) {
    return path.substr(0, path.size() - 1);
  }
  return path;
}

// The file type bits of the entry at `path`, or 0 when it cannot be queried.
unsigned file_type(const std::string& path) {
  struct stat status {};
  if (::stat(native_path(without_trailing_separator(path)).c_str(), &status) != 0) {
    return 0;
  }
  return static_cast<unsigned>(status.st_mode) & S_IFMT;
}

}  // namespace

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool ParsedPath::parse(const std::string& text) {
  std::string s = text;
  relative = true;
  root.clear();
  segments.clear();
  leaf_name.clear();
  std::size_t p = 0;

  if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
    root = s.substr(0, 2);
    relative = false;
    p = 2;
    if (!(s.size() > 2 && is_separator(s[2]))) {
      // Drive-relative ("C:" or "C:foo"). This platform keeps no current
      // directory per drive, so the text is taken relative to the drive's
      // root, as when that directory cannot be obtained.
      s.insert(2, 1, '\\');
    }
  } else if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) {
    p = 2;
    while (p < s.size() && !is_separator(s[p])) ++p;
    root = s.substr(0, p);
    relative = false;
  }

  if (p < s.size() && is_separator(s[p])) {
    relative = false;
    ++p;
    if (root.empty()) root = current_drive_root();
  }

  std::size_t start = p;
  for (std::size_t i = p; i < s.size(); ++i) {
    if (is_separator(s[i])) {
      segments.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  segments.push_back(s.substr(start));
  return normalize();
}

bool ParsedPath::normalize() {
  std::size_t i = 0;
  while (i < segments.size()) {
    const std::string& segment = segments[i];
    if (segment.empty() || segment == ".") {
      segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(i));
    } else if (segment == "..") {
      if (i > 0) {
        if (segments[i - 1] == "..") {
          ++i;
        } else {
          segments.erase(segments.begin() + static_cast<std::ptrdiff_t>(i - 1),
                         segments.begin() + static_cast<std::ptrdiff_t>(i + 1));
          --i;
        }
      } else if (relative) {
        ++i;
      } else {
        segments.erase(segments.begin());
      }
    } else {
      ++i;
    }
  }
  return true;
}

std::string ParsedPath::to_string() const {
  std::string text = root;
  if (!relative) text += '\\';
  if (segments.empty()) {
    if (relative) text += '.';
  } else {
    for (std::size_t i = 0; i < segments.size(); ++i) {
      if (i > 0) text += '\\';
      text += segments[i];
    }
  }
  if (text.empty() || !is_separator(text.back())) text += '\\';
  text += leaf_name;
  return text;
}

std::string join_dir(const std::string& folder, const std::string& name) {
  ParsedPath path;
  path.parse(folder);
  path.segments.push_back(name);
  return path.to_string();
}

std::string join_path(const std::string& folder, const std::string& name) {
  std::string text = folder;
  if (!text.empty() && !is_separator(text.back())) text += '\\';
  return text + name;
}

std::string with_extension(const std::string& name, const std::string& ext) {
  if (ext.empty()) return name;
  if (ext.front() == '.') return name + ext;
  return name + "." + ext;
}

std::string join_path_ext(const std::string& folder, const std::string& name,
                          const std::string& ext) {
  return join_path(folder, with_extension(name, ext));
}

std::string file_stem(const std::string& path) {
  const std::size_t last_separator = path.find_last_of("\\/");
  std::string name =
      last_separator == std::string::npos ? path : path.substr(last_separator + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string native_path(const std::string& text) {
  std::string native = text;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

bool is_directory(const std::string& path) { return file_type(path) == S_IFDIR; }

bool is_file(const std::string& path) {
  const unsigned type = file_type(path);
  return type == S_IFREG || type == S_IFIFO;
}

bool make_directory(const std::string& path) {
  return ::mkdir(native_path(path).c_str(), 0777) == 0;
}

}  // namespace quarrow
