// A small tmpfs mounted on a fresh folder for one test: a disk that fills up
// on demand. Mounting needs root; where it fails, mounted() is false and
// reason() says why, so the test can skip.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quarrow {

class SmallTmpfs {
 public:
  explicit SmallTmpfs(std::size_t bytes) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarrow_tmpfs_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      reason_ = std::string("no scratch folder: ") + std::strerror(errno);
      return;
    }
    path_ = pattern;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      reason_ = std::string("cannot mount a tmpfs (needs root): ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

  // Writes a filler file until the disk is full, so that the next write of
  // any size fails with "no space left".
  void fill() {
    std::ofstream filler(file("filler"), std::ios::binary);
    const std::vector<char> block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
      filler.flush();
    }
  }

 private:
  std::string path_;
  std::string reason_;
  bool mounted_ = false;
};

}  // namespace quarrow
