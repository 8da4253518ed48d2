// Whole-file replacement through a temporary name (see file_replacement.h).
#include "data/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <utility>

namespace quarrow {
namespace {

constexpr int kCreateAttempts = 100;

std::string random_tag() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kAlphabet)) - 2);
  std::string tag(6, 'x');
  for (char& c : tag) c = kAlphabet[pick(generator)];
  return tag;
}

// Creates an empty file under a fresh temporary name for `path` and returns
// the name, or "" when none could be created. O_EXCL keeps two writers from
// sharing a name; mode 0666 lets the umask decide, as for a plain new file.
std::string create_temporary(const std::string& path) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string name = replacement_name(path, random_tag());
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

// Where the content finally goes: `path`, or the target of a link there.
std::string final_name(const std::string& path) {
  struct stat link_status {};
  if (::lstat(path.c_str(), &link_status) != 0 || !S_ISLNK(link_status.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// Content is on disk before the name points at it, so that a crash right
// after the rename cannot leave an empty file under the final name.
bool flush_to_disk(const std::string& name) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  return (::close(fd) == 0) && synced;
}

class TemporaryFile {
 public:
  explicit TemporaryFile(std::string name) : name_(std::move(name)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  const std::string& name() const { return name_; }
  bool rename_to(const std::string& target) {
    if (::rename(name_.c_str(), target.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  std::string name_;
};

}  // namespace

std::string replacement_name(const std::string& path, const std::string& tag) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.find_last_of('.');
  // A dot in the folder part, or one that starts the name, is no extension.
  if (dot == std::string::npos || dot <= name_start) dot = path.size();
  return path.substr(0, dot) + ".tmp-" + tag + path.substr(dot);
}

bool replace_file(const std::string& path, const std::function<bool(const std::string&)>& write) {
  const std::string target = final_name(path);
  struct stat status {};
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) return write(path);

  TemporaryFile temporary(create_temporary(target));
  if (temporary.name().empty()) return false;
  // The mode is copied before the write, so a file that its owner may not
  // write fails here just as writing it in place would.
  if (exists && ::chmod(temporary.name().c_str(), status.st_mode & 07777) != 0) return false;
  if (!write(temporary.name())) return false;
  if (!flush_to_disk(temporary.name())) return false;
  return temporary.rename_to(target);
}

}  // namespace quarrow
