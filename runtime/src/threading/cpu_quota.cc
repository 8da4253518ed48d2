#include "threading/cpu_quota.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qtf {
namespace {

// A whole decimal integer (surrounding blanks allowed), else nullopt.
std::optional<long long> parse_integer(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\n");
  if (begin == std::string::npos) return std::nullopt;
  const char* start = text.c_str() + begin;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(start, &end, 10);
  if (end == start || errno == ERANGE) return std::nullopt;
  if (std::string(end).find_first_not_of(" \t\n") != std::string::npos) return std::nullopt;
  return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return parts;
    begin = end + 1;
  }
}

bool lists(const std::string& comma_list, const std::string& item) {
  const std::vector<std::string> items = split(comma_list, ',');
  return std::find(items.begin(), items.end(), item) != items.end();
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// mountinfo escapes blanks and backslashes in paths as \ooo.
std::string unescape_octal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && is_octal(s[i + 1]) && is_octal(s[i + 2]) && is_octal(s[i + 3])) {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Reads to the end: /proc and cgroup files report a size of 0 or 4096.
std::optional<std::string> file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

std::optional<int> tighter(std::optional<int> a, std::optional<int> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

// The tightest quota over `group` and its ancestors in `mount`, read from
// each folder by `read_limit`.
template <typename ReadLimit>
std::optional<int> quota_along(const CgroupMount& mount, const std::string& group, ReadLimit read_limit) {
  std::optional<int> limit;
  for (const std::string& folder : cgroup_folders(mount, group)) limit = tighter(limit, read_limit(folder));
  return limit;
}

}  // namespace

std::optional<int> cpus_for_quota(long long quota, long long period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const long long cpus = quota / period + (quota % period != 0 ? 1 : 0);
  return static_cast<int>(std::min<long long>(cpus, 1 << 20));
}

std::optional<int> cpus_from_cpu_max(const std::string& text) {
  std::istringstream in(text);
  std::string quota, period, extra;
  if (!(in >> quota >> period) || (in >> extra)) return std::nullopt;
  if (quota == "max") return std::nullopt;
  const std::optional<long long> q = parse_integer(quota), p = parse_integer(period);
  if (!q || !p) return std::nullopt;
  return cpus_for_quota(*q, *p);
}

std::optional<int> cpus_from_cfs(const std::string& quota_text, const std::string& period_text) {
  const std::optional<long long> q = parse_integer(quota_text), p = parse_integer(period_text);
  if (!q || !p) return std::nullopt;
  return cpus_for_quota(*q, *p);
}

CgroupPaths parse_proc_cgroup(const std::string& text) {
  CgroupPaths paths;
  for (const std::string& line : split(text, '\n')) {
    const size_t first = line.find(':');
    if (first == std::string::npos) continue;
    const size_t second = line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string id = line.substr(0, first);
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);  // may itself hold ':'
    if (path.empty() || path[0] != '/') continue;
    if (id == "0" && controllers.empty()) {
      paths.unified = path;
    } else if (lists(controllers, "cpu")) {
      paths.cpu = path;
    }
  }
  return paths;
}

CgroupMounts parse_mountinfo(const std::string& text) {
  CgroupMounts mounts;
  for (const std::string& line : split(text, '\n')) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    // id parent dev root mount-point options [optional...] - type source super-options
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4 || dash - fields.begin() < 6) continue;
    const std::string& type = *(dash + 1);
    const std::string& super_options = *(dash + 3);
    const CgroupMount mount{unescape_octal(fields[3]), unescape_octal(fields[4])};
    if (type == "cgroup2" && !mounts.unified) {
      mounts.unified = mount;
    } else if (type == "cgroup" && lists(super_options, "cpu") && !mounts.cpu) {
      mounts.cpu = mount;
    }
  }
  return mounts;
}

std::vector<std::string> cgroup_folders(const CgroupMount& mount, const std::string& group) {
  std::string root = mount.root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string relative;
  if (root == "/") {
    relative = group;
  } else if (group == root) {
    relative = "/";
  } else if (group.compare(0, root.size() + 1, root + "/") == 0) {
    relative = group.substr(root.size());
  } else {
    return {mount.mount_point};
  }
  std::string base = mount.mount_point;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::vector<std::string> folders;
  // Components of `relative`, skipping empty ones and refusing "..".
  std::vector<std::string> parts;
  for (const std::string& part : split(relative, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return {mount.mount_point};
    parts.push_back(part);
  }
  for (size_t n = parts.size(); n > 0; --n) {
    std::string folder = base;
    for (size_t i = 0; i < n; ++i) folder += "/" + parts[i];
    folders.push_back(folder);
  }
  folders.push_back(base);
  return folders;
}

int usable_cpus(int affinity_cpus, std::optional<int> quota_cpus) {
  int n = std::max(1, affinity_cpus);
  if (quota_cpus) n = std::min(n, std::max(1, *quota_cpus));
  return n;
}

int affinity_cpu_count() {
  // Masks larger than the default cpu_set_t exist on big machines.
  for (int cpus = 1024; cpus <= (1 << 20); cpus *= 2) {
    cpu_set_t* set = CPU_ALLOC(cpus);
    if (set == nullptr) return 1;
    const size_t bytes = CPU_ALLOC_SIZE(cpus);
    CPU_ZERO_S(bytes, set);
    if (sched_getaffinity(0, bytes, set) == 0) {
      const int count = CPU_COUNT_S(bytes, set);
      CPU_FREE(set);
      return std::max(1, count);
    }
    const bool too_small = errno == EINVAL;
    CPU_FREE(set);
    if (!too_small) return 1;
  }
  return 1;
}

std::optional<int> cgroup_cpu_quota(const CgroupPaths& groups, const CgroupMounts& mounts) {
  std::optional<int> limit;
  if (groups.unified && mounts.unified) {
    limit = tighter(limit, quota_along(*mounts.unified, *groups.unified, [](const std::string& folder) {
      const std::optional<std::string> text = file_text(folder + "/cpu.max");
      return text ? cpus_from_cpu_max(*text) : std::nullopt;
    }));
  }
  if (groups.cpu && mounts.cpu) {
    limit = tighter(limit, quota_along(*mounts.cpu, *groups.cpu, [](const std::string& folder) {
      const std::optional<std::string> quota = file_text(folder + "/cpu.cfs_quota_us");
      const std::optional<std::string> period = file_text(folder + "/cpu.cfs_period_us");
      return quota && period ? cpus_from_cfs(*quota, *period) : std::nullopt;
    }));
  }
  return limit;
}

std::optional<int> cgroup_cpu_quota() {
  const std::optional<std::string> cgroup = file_text("/proc/self/cgroup");
  const std::optional<std::string> mountinfo = file_text("/proc/self/mountinfo");
  if (!cgroup || !mountinfo) return std::nullopt;
  return cgroup_cpu_quota(parse_proc_cgroup(*cgroup), parse_mountinfo(*mountinfo));
}

int usable_cpu_count() { return usable_cpus(affinity_cpu_count(), cgroup_cpu_quota()); }

}  // namespace qtf
