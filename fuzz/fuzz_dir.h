// The scratch folder a fuzzer process writes each input into: one per
// process, created on first use and removed when the process exits normally.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qfuzz {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qtf_fuzz_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline const std::string& scratch_folder() {
  static const ScratchFolder folder;
  return folder.path();
}

}  // namespace qfuzz
