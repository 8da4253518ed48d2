// Keeping pool workers off their caller's CPU: the mask narrowing and its
// restoration, the cases where nothing may change, moving off a CPU, and the
// pool's workers never starting a share on the caller's CPU nor sleeping
// where the caller runs.
#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "threading/cpu_placement.h"
#include "threading/thread_pool.h"

namespace qtf {
namespace {

cpu_set_t mask_of(pid_t tid) {
  cpu_set_t set;
  CPU_ZERO(&set);
  EXPECT_EQ(sched_getaffinity(tid, sizeof set, &set), 0);
  return set;
}

std::vector<int> cpus_in(const cpu_set_t& set) {
  std::vector<int> cpus;
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &set)) cpus.push_back(c);
  }
  return cpus;
}

// Runs `f` on a fresh thread, so the test's own mask never changes.
template <typename F>
void on_own_thread(F f) {
  std::thread t(f);
  t.join();
}

bool pin_calling_thread(int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  return sched_setaffinity(0, sizeof one, &one) == 0 && sched_getcpu() == cpu;
}

class CpuPlacement : public ::testing::Test {
 protected:
  void SetUp() override {
    cpus_ = cpus_in(mask_of(0));
    if (cpus_.size() < 2) GTEST_SKIP() << "needs two usable CPUs";
  }
  std::vector<int> cpus_;
};

TEST_F(CpuPlacement, AvoidCpuNarrowsTheMaskAndRestoresIt) {
  on_own_thread([&] {
    const cpu_set_t before = mask_of(0);
    const int here = sched_getcpu();
    {
      AvoidCpu away(here);
      ASSERT_TRUE(away.active());
      const cpu_set_t during = mask_of(0);
      EXPECT_FALSE(CPU_ISSET(here, &during));
      EXPECT_EQ(CPU_COUNT(&during), CPU_COUNT(&before) - 1);
      EXPECT_NE(sched_getcpu(), here) << "still on the avoided CPU";
    }
    const cpu_set_t after = mask_of(0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after)) << "mask not restored";
  });
}

TEST_F(CpuPlacement, AvoidCpuLeavesTheMaskAloneWhenItCannotHelp) {
  on_own_thread([&] {
    for (int cpu : {-1, CPU_SETSIZE, CPU_SETSIZE + 5}) {
      AvoidCpu away(cpu);
      EXPECT_FALSE(away.active()) << cpu;
    }
    // A CPU outside the mask, then the only CPU of the mask.
    ASSERT_TRUE(pin_calling_thread(cpus_[0]));
    {
      AvoidCpu outside(cpus_[1]);
      EXPECT_FALSE(outside.active());
      AvoidCpu only(cpus_[0]);
      EXPECT_FALSE(only.active());
      const cpu_set_t now = mask_of(0);
      EXPECT_EQ(cpus_in(now), std::vector<int>{cpus_[0]});
    }
    EXPECT_EQ(cpus_in(mask_of(0)), std::vector<int>{cpus_[0]});
  });
}

TEST_F(CpuPlacement, MoveOffCpuMovesOnlyFromThatCpu) {
  on_own_thread([&] {
    const cpu_set_t before = mask_of(0);
    const int here = sched_getcpu();
    const int elsewhere = here == cpus_[0] ? cpus_[1] : cpus_[0];
    EXPECT_FALSE(move_off_cpu(elsewhere));
    EXPECT_FALSE(move_off_cpu(-1));
    EXPECT_TRUE(move_off_cpu(here));
    EXPECT_NE(sched_getcpu(), here);
    const cpu_set_t after = mask_of(0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
  });
}

TEST_F(CpuPlacement, PoolWorkersKeepOffTheCallersCpu) {
  on_own_thread([&] {
    const cpu_set_t full = mask_of(0);
    ThreadPool pool(2);
    // Workers inherit the mask of the thread that starts them: start them
    // before pinning the caller.
    pool.run(2, [](void*, int, int) {}, nullptr);
    ASSERT_TRUE(pin_calling_thread(cpus_[0]));
    std::mutex mu;
    std::vector<int> worker_cpus;
    std::vector<bool> worker_mask_full;
    auto record = [&](int index) {
      if (index == 0) return;
      const int cpu = sched_getcpu();
      const cpu_set_t mine = mask_of(0);
      std::lock_guard<std::mutex> lock(mu);
      worker_cpus.push_back(cpu);
      worker_mask_full.push_back(CPU_EQUAL(&mine, &full));
    };
    using Record = decltype(record);
    auto task = [](void* arg, int index, int) { (*static_cast<Record*>(arg))(index); };
    // Back to back (the worker spins between regions) and after sleeps.
    for (int i = 0; i < 40; ++i) {
      pool.run(2, task, &record);
      if (i % 8 == 7) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::vector<pid_t> workers = pool.worker_ids();
        ASSERT_EQ(workers.size(), 1u);
        const cpu_set_t asleep = mask_of(workers[0]);
        EXPECT_FALSE(CPU_ISSET(cpus_[0], &asleep)) << "a sleeping worker may be woken on the caller's CPU";
      }
    }
    ASSERT_EQ(worker_cpus.size(), 40u);
    for (size_t i = 0; i < worker_cpus.size(); ++i) {
      EXPECT_NE(worker_cpus[i], cpus_[0]) << "region " << i << " ran its worker share on the caller's CPU";
      EXPECT_TRUE(worker_mask_full[i]) << "region " << i << ": the worker runs with a narrowed mask";
    }
  });
}

}  // namespace
}  // namespace qtf
