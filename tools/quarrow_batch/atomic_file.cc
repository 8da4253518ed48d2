#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "data/file_replacement.h"

namespace quarrow::batch {

namespace fs = std::filesystem;

bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error) {
  const bool written = replace_file(path, [&](const std::string& temp) {
    std::ofstream output(temp, std::ios::binary | std::ios::trunc);
    output << content;
    output.close();
    return static_cast<bool>(output);
  });
  // errno is not reliable here (the stream sets none, the temporary file's
  // removal may overwrite it), so the message names the file only.
  if (!written) error = "file " + path + " can't be written";
  return written;
}

bool move_file(const std::string& source, const std::string& target, std::string& error) {
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV) {
    error = "file " + source + " can't be moved to " + target + ": " + std::strerror(errno);
    return false;
  }
  const bool copied = replace_file(target, [&](const std::string& temp) {
    std::error_code code;
    fs::copy_file(source, temp, fs::copy_options::overwrite_existing, code);
    if (code) error = "file " + source + " can't be copied to " + target + ": " + code.message();
    return !code;
  });
  if (!copied && error.empty()) error = "file " + target + " can't be written";
  if (copied) std::remove(source.c_str());
  return copied;
}

}  // namespace quarrow::batch
