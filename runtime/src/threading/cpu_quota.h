// How many CPUs this process may keep busy: the CPUs of its affinity mask,
// capped by the CPU quota of its cgroup (v2 `cpu.max`, v1
// `cpu.cfs_quota_us` / `cpu.cfs_period_us`, on its own group and every
// ancestor). The parsing takes file contents, so tests feed it text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qtf {

// CPUs a quota of `quota` microseconds per `period` allows, rounded up (a
// quota of 1.5 CPUs still gets two threads: their work is done before the
// group is throttled); at least 1. nullopt for "no limit".
std::optional<int> cpus_for_quota(long long quota, long long period);

// From the text of a cgroup v2 `cpu.max` ("max 100000", "150000 100000").
std::optional<int> cpus_from_cpu_max(const std::string& text);
// From the texts of cgroup v1 `cpu.cfs_quota_us` (-1: no limit) and
// `cpu.cfs_period_us`.
std::optional<int> cpus_from_cfs(const std::string& quota_text, const std::string& period_text);

// The process's groups, from /proc/self/cgroup: the v2 group ("0::/path")
// and the v1 group of the hierarchy holding the "cpu" controller.
struct CgroupPaths {
  std::optional<std::string> unified;
  std::optional<std::string> cpu;
};
CgroupPaths parse_proc_cgroup(const std::string& text);

// A mounted cgroup hierarchy: the group at its root and where it is mounted.
struct CgroupMount {
  std::string root;
  std::string mount_point;
};
// The cgroup2 mount and the v1 mount with the "cpu" controller, from
// /proc/self/mountinfo.
struct CgroupMounts {
  std::optional<CgroupMount> unified;
  std::optional<CgroupMount> cpu;
};
CgroupMounts parse_mountinfo(const std::string& text);

// The folders of `group` and of its ancestors inside `mount`, innermost
// first, ending at the mount point. A group outside the mounted root (the
// mount shows a namespace's own root) gives just the mount point.
std::vector<std::string> cgroup_folders(const CgroupMount& mount, const std::string& group);

// The thread count for `affinity_cpus` CPUs under a quota of `quota_cpus`.
int usable_cpus(int affinity_cpus, std::optional<int> quota_cpus);

// The CPUs of the calling thread's affinity mask (1 if it cannot be read).
int affinity_cpu_count();
// The tightest quota over `groups` and their ancestors, read from the
// quota files under `mounts`.
std::optional<int> cgroup_cpu_quota(const CgroupPaths& groups, const CgroupMounts& mounts);
// The same for the process's own groups (/proc/self/cgroup, mountinfo).
std::optional<int> cgroup_cpu_quota();
// usable_cpus(affinity_cpu_count(), cgroup_cpu_quota()).
int usable_cpu_count();

}  // namespace qtf
