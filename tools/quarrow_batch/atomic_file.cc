#include "atomic_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quarrow::batch {

namespace fs = std::filesystem;

std::string temporary_path_for(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const fs::path target(path);
  return (target.parent_path() / ("." + target.filename().string() + ".tmp-" +
                                  std::to_string(::getpid()) + "-" +
                                  std::to_string(counter++)))
      .string();
}

bool replace_atomically(const std::string& path,
                        const std::function<bool(const std::string& temp)>& write,
                        std::string& error) {
  const std::string temp = temporary_path_for(path);
  if (!write(temp)) {
    std::remove(temp.c_str());
    if (error.empty()) error = "file " + path + " can't be written";
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "file " + path + " can't be written: " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error) {
  return replace_atomically(
      path,
      [&](const std::string& temp) {
        std::ofstream output(temp, std::ios::binary | std::ios::trunc);
        output << content;
        output.close();
        return static_cast<bool>(output);
      },
      error);
}

bool move_file(const std::string& source, const std::string& target, std::string& error) {
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV) {
    error = "file " + source + " can't be moved to " + target + ": " + std::strerror(errno);
    return false;
  }
  const bool copied = replace_atomically(
      target,
      [&](const std::string& temp) {
        std::error_code code;
        fs::copy_file(source, temp, fs::copy_options::overwrite_existing, code);
        if (code) error = "file " + source + " can't be copied to " + target + ": " + code.message();
        return !code;
      },
      error);
  if (copied) std::remove(source.c_str());
  return copied;
}

}  // namespace quarrow::batch
