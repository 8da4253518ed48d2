// Whole-file and ranged reads that report failures as a Status naming the file.
#pragma once

#include <cstdint>
#include <string>

#include "core/status.h"

namespace qtf {

bool path_exists(const std::string& path);
bool is_directory(const std::string& path);

// NOT_FOUND when the file is missing, DATA_LOSS on a read error.
Status read_file(const std::string& path, std::string* contents);

// A file opened for reads at arbitrary offsets (checkpoint data shards).
class RandomAccessFile {
 public:
  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;
  RandomAccessFile(RandomAccessFile&& other) noexcept;
  RandomAccessFile& operator=(RandomAccessFile&& other) noexcept;

  Status open(const std::string& path);
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // Reads exactly `n` bytes at `offset`; DATA_LOSS when the range leaves the file.
  Status read(uint64_t offset, size_t n, char* out) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

}  // namespace qtf
