// The thread-count decision: cgroup quota files, /proc/self/cgroup and
// mountinfo parsing fed with text, the quota read along a fake cgroup tree,
// OMP_NUM_THREADS values, and the count a process gets under a restricted
// affinity mask or a thread request.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "probe_process.h"
#include "temp_dir.h"
#include "threading/cpu_quota.h"
#include "threading/thread_count.h"
#include "threading/thread_pool.h"

namespace qtf {
namespace {

TEST(CpuQuota, QuotaRoundsUpToWholeCpus) {
  const struct {
    long long quota, period;
    std::optional<int> cpus;
  } cases[] = {
      {100000, 100000, 1}, {150000, 100000, 2}, {50000, 100000, 1}, {200000, 100000, 2},
      {250000, 100000, 3}, {1, 100000, 1},      {-1, 100000, std::nullopt},
      {0, 100000, std::nullopt}, {100000, 0, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cpus_for_quota(c.quota, c.period), c.cpus) << c.quota << "/" << c.period;
  }
}

TEST(CpuQuota, CgroupV2CpuMax) {
  EXPECT_EQ(cpus_from_cpu_max("max 100000\n"), std::nullopt);
  EXPECT_EQ(cpus_from_cpu_max("200000 100000\n"), 2);
  EXPECT_EQ(cpus_from_cpu_max("250000 100000"), 3);
  EXPECT_EQ(cpus_from_cpu_max("50000 100000\n"), 1);
  // Malformed texts give no limit rather than a wrong one.
  EXPECT_EQ(cpus_from_cpu_max(""), std::nullopt);
  EXPECT_EQ(cpus_from_cpu_max("100000"), std::nullopt);
  EXPECT_EQ(cpus_from_cpu_max("abc 100000"), std::nullopt);
  EXPECT_EQ(cpus_from_cpu_max("100000 100000 7"), std::nullopt);
  EXPECT_EQ(cpus_from_cpu_max("12x 100000"), std::nullopt);
}

TEST(CpuQuota, CgroupV1CfsFiles) {
  EXPECT_EQ(cpus_from_cfs("-1\n", "100000\n"), std::nullopt);
  EXPECT_EQ(cpus_from_cfs("300000\n", "100000\n"), 3);
  EXPECT_EQ(cpus_from_cfs("100000", "50000"), 2);
  EXPECT_EQ(cpus_from_cfs("x", "100000"), std::nullopt);
  EXPECT_EQ(cpus_from_cfs("100000", ""), std::nullopt);
}

TEST(CpuQuota, ProcSelfCgroup) {
  const CgroupPaths hybrid = parse_proc_cgroup(
      "9:name=systemd:/\n4:memory:/m\n3:cpuacct:/acct-only\n2:cpu,cpuacct:/docker/abc\n0::/user.slice/x\n");
  EXPECT_EQ(hybrid.unified, std::string("/user.slice/x"));
  EXPECT_EQ(hybrid.cpu, std::string("/docker/abc")) << "cpuacct alone is not the cpu controller";

  const CgroupPaths v2 = parse_proc_cgroup("0::/\n");
  EXPECT_EQ(v2.unified, std::string("/"));
  EXPECT_EQ(v2.cpu, std::nullopt);

  EXPECT_EQ(parse_proc_cgroup("0::/a:b/c\n").unified, std::string("/a:b/c")) << "a path may hold ':'";
  const CgroupPaths broken = parse_proc_cgroup("garbage\n1:cpu\n\n");
  EXPECT_EQ(broken.unified, std::nullopt);
  EXPECT_EQ(broken.cpu, std::nullopt);
}

TEST(CpuQuota, Mountinfo) {
  const CgroupMounts m = parse_mountinfo(
      "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
      "32 30 0:29 / /sys/fs/cgroup/cpuacct rw,relatime - cgroup cgroup rw,cpuacct\n"
      "31 30 0:28 /docker/abc /sys/fs/cgroup/cpu\\040x rw,relatime shared:5 master:1 - cgroup cgroup rw,cpu,cpuacct\n"
      "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
      "short line\n");
  ASSERT_TRUE(m.unified.has_value());
  EXPECT_EQ(m.unified->root, "/");
  EXPECT_EQ(m.unified->mount_point, "/sys/fs/cgroup/unified");
  ASSERT_TRUE(m.cpu.has_value());
  EXPECT_EQ(m.cpu->root, "/docker/abc");
  EXPECT_EQ(m.cpu->mount_point, "/sys/fs/cgroup/cpu x") << "\\040 is a blank";

  const CgroupMounts none = parse_mountinfo("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
  EXPECT_FALSE(none.unified.has_value());
  EXPECT_FALSE(none.cpu.has_value());
}

TEST(CpuQuota, FoldersFromGroupUpToTheMount) {
  const CgroupMount plain{"/", "/sys/fs/cgroup"};
  EXPECT_EQ(cgroup_folders(plain, "/a/b"),
            (std::vector<std::string>{"/sys/fs/cgroup/a/b", "/sys/fs/cgroup/a", "/sys/fs/cgroup"}));
  EXPECT_EQ(cgroup_folders(plain, "/"), (std::vector<std::string>{"/sys/fs/cgroup"}));
  EXPECT_EQ(cgroup_folders(plain, "/a//b/"),
            (std::vector<std::string>{"/sys/fs/cgroup/a/b", "/sys/fs/cgroup/a", "/sys/fs/cgroup"}));

  const CgroupMount nested{"/docker/x", "/mnt/cg/"};
  EXPECT_EQ(cgroup_folders(nested, "/docker/x/y"), (std::vector<std::string>{"/mnt/cg/y", "/mnt/cg"}));
  EXPECT_EQ(cgroup_folders(nested, "/docker/x"), (std::vector<std::string>{"/mnt/cg"}));
  // Outside the mounted root, or climbing out of it: only the mount point.
  EXPECT_EQ(cgroup_folders(nested, "/docker/xyz"), (std::vector<std::string>{"/mnt/cg/"}));
  EXPECT_EQ(cgroup_folders(plain, "/a/../../etc"), (std::vector<std::string>{"/sys/fs/cgroup"}));
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

TEST(CpuQuota, TightestLimitAlongTheTreeOfBothVersions) {
  testing::TempDir dir;
  const std::string v2 = dir.path() + "/v2", v1 = dir.path() + "/v1";
  for (const std::string& d : {v2, v2 + "/a", v2 + "/a/b", v1, v1 + "/g"}) ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
  write_text(v2 + "/a/b/cpu.max", "max 100000\n");
  write_text(v2 + "/a/cpu.max", "300000 100000\n");  // an ancestor's limit binds its children
  CgroupMounts mounts;
  mounts.unified = CgroupMount{"/", v2};
  CgroupPaths groups;
  groups.unified = "/a/b";
  EXPECT_EQ(cgroup_cpu_quota(groups, mounts), 3);

  write_text(v1 + "/g/cpu.cfs_quota_us", "200000\n");
  write_text(v1 + "/g/cpu.cfs_period_us", "100000\n");
  write_text(v1 + "/cpu.cfs_quota_us", "-1\n");
  write_text(v1 + "/cpu.cfs_period_us", "100000\n");
  mounts.cpu = CgroupMount{"/", v1};
  groups.cpu = "/g";
  EXPECT_EQ(cgroup_cpu_quota(groups, mounts), 2);

  groups.unified = "/missing";  // no files: no limit from v2
  groups.cpu = "/";
  EXPECT_EQ(cgroup_cpu_quota(groups, mounts), std::nullopt);
}

TEST(CpuQuota, UsableCpus) {
  EXPECT_EQ(usable_cpus(2, std::nullopt), 2);
  EXPECT_EQ(usable_cpus(8, 3), 3);
  EXPECT_EQ(usable_cpus(2, 4), 2);
  EXPECT_EQ(usable_cpus(0, std::nullopt), 1);
  EXPECT_EQ(usable_cpus(4, 0), 1);
}

TEST(CpuQuota, ThisProcess) {
  const int affinity = affinity_cpu_count();
  EXPECT_GE(affinity, 1);
  EXPECT_LE(affinity, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_LE(usable_cpu_count(), affinity);
}

TEST(ThreadCount, OmpNumThreadsValues) {
  struct Case {
    const char* text;
    std::optional<int> asked;
  };
  const Case cases[] = {
      {nullptr, std::nullopt}, {"", std::nullopt},      {"1", 1},
      {"16", 16},              {" 3 ", 3},              {"4,2", 4},
      {"2 ,1", 2},             {"0", std::nullopt},     {"-2", std::nullopt},
      {"two", std::nullopt},   {"3x", std::nullopt},    {"1.5", std::nullopt},
      {",4", std::nullopt},    {"   ", std::nullopt},    {"99999999999999999999", 1000000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(threads_asked(c.text), c.asked) << (c.text != nullptr ? c.text : "(unset)");
  }
}

// What the thread-count probe prints in a fresh process.
std::string probe_output(bool one_cpu, const char* omp_num_threads = nullptr) {
  return testing::probe_output(QTF_THREAD_COUNT_PROBE, one_cpu, omp_num_threads);
}

// The pool is sized from the mask the process starts with, and its regions
// use that many threads.
TEST(CpuQuota, PoolOfAFreshProcessFollowsItsAffinity) {
  const int n = usable_cpu_count();
  EXPECT_EQ(probe_output(false), "pool " + std::to_string(n) + " region " + std::to_string(n) + "\n");
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) GTEST_SKIP() << "needs two CPUs to restrict";
  EXPECT_EQ(probe_output(true), "pool 1 region 1\n");
}

// OMP_NUM_THREADS lowers the count and never raises it past the usable CPUs.
TEST(CpuQuota, PoolOfAFreshProcessHonoursAThreadRequest) {
  const std::string n = std::to_string(usable_cpu_count());
  EXPECT_EQ(probe_output(false, "1"), "pool 1 region 1\n");
  EXPECT_EQ(probe_output(false, "64"), "pool " + n + " region " + n + "\n");
  EXPECT_EQ(probe_output(false, "none"), "pool " + n + " region " + n + "\n");
  EXPECT_EQ(probe_output(true, "2"), "pool 1 region 1\n");
}

}  // namespace
}  // namespace qtf
