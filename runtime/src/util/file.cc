#include "util/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace qtf {
namespace {

Status open_error(const std::string& path) {
  const int err = errno;
  const std::string reason = std::strerror(err);
  if (err == ENOENT || err == ENOTDIR) return not_found(path + ": " + reason);
  return Status(TF_UNAVAILABLE, path + ": " + reason);
}

}  // namespace

bool path_exists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status read_file(const std::string& path, std::string* contents) {
  RandomAccessFile file;
  QTF_RETURN_IF_ERROR(file.open(path));
  if (file.size() > SIZE_MAX / 2) return Status(TF_RESOURCE_EXHAUSTED, path + ": file too large");
  contents->resize(static_cast<size_t>(file.size()));
  return file.read(0, contents->size(), contents->data());
}

RandomAccessFile::~RandomAccessFile() {
  if (fd_ >= 0) ::close(fd_);
}

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), path_(std::move(other.path_)) {}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    path_ = std::move(other.path_);
  }
  return *this;
}

Status RandomAccessFile::open(const std::string& path) {
  path_ = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return open_error(path);
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return open_error(path);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return invalid_argument(path + ": is a directory");
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return Status::ok();
}

Status RandomAccessFile::read(uint64_t offset, size_t n, char* out) const {
  if (fd_ < 0) return failed_precondition(path_ + ": file not open");
  if (offset > size_ || n > size_ - offset) {
    return data_loss(path_ + ": read of " + std::to_string(n) + " bytes at offset " +
                     std::to_string(offset) + " runs past the end of the file (" +
                     std::to_string(size_) + " bytes)");
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      return data_loss(path_ + ": read failed at offset " + std::to_string(offset + done) +
                       (got < 0 ? std::string(": ") + std::strerror(errno) : std::string()));
    }
    done += static_cast<size_t>(got);
  }
  return Status::ok();
}

}  // namespace qtf
