// The runtime's thread pool: every index of a region runs once on its own
// thread, team sizes, nesting, the barrier, back-to-back regions through
// both the spinning and the sleeping path, concurrent callers, a fork child,
// and workers that sleep (use no CPU) between regions.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kernels/parallel.h"
#include "threading/thread_pool.h"

namespace qtf {
namespace {

// Calls `f(index, count)` as a region task.
template <typename F>
void run_region(ThreadPool& pool, int threads, F f) {
  struct Call {
    static void task(void* arg, int index, int count) { (*static_cast<F*>(arg))(index, count); }
  };
  pool.run(threads, &Call::task, &f);
}

struct Record {
  std::mutex mu;
  std::vector<int> indices;
  std::vector<int> counts;
  std::set<std::thread::id> threads;
  std::thread::id index0_thread;
};

void record_region(ThreadPool& pool, int threads, Record& r) {
  run_region(pool, threads, [&](int index, int count) {
    std::lock_guard<std::mutex> lock(r.mu);
    r.indices.push_back(index);
    r.counts.push_back(count);
    r.threads.insert(std::this_thread::get_id());
    if (index == 0) r.index0_thread = std::this_thread::get_id();
  });
}

TEST(ThreadPool, TeamSizes) {
  ThreadPool pool(3);
  EXPECT_EQ(pool.size(), 3);
  const struct {
    int asked, expected;
  } cases[] = {{0, 3}, {-1, 3}, {3, 3}, {2, 2}, {1, 1}, {10, 3}};
  for (const auto& c : cases) {
    Record r;
    record_region(pool, c.asked, r);
    std::vector<int> sorted = r.indices;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> want(static_cast<size_t>(c.expected));
    for (int i = 0; i < c.expected; ++i) want[static_cast<size_t>(i)] = i;
    EXPECT_EQ(sorted, want) << "asked " << c.asked;
    EXPECT_EQ(r.counts, std::vector<int>(static_cast<size_t>(c.expected), c.expected)) << "asked " << c.asked;
    EXPECT_EQ(r.threads.size(), static_cast<size_t>(c.expected)) << "each index on its own thread";
    EXPECT_EQ(r.index0_thread, std::this_thread::get_id()) << "index 0 runs on the caller";
  }
  EXPECT_EQ(ThreadPool(0).size(), 1);
}

TEST(ThreadPool, RegionStateOfTheCallingThread) {
  EXPECT_EQ(ThreadPool::thread_index(), 0);
  EXPECT_EQ(ThreadPool::region_threads(), 1);
  EXPECT_FALSE(ThreadPool::in_parallel_region());
  ThreadPool::barrier();  // outside a region: returns at once

  ThreadPool pool(2);
  std::atomic<int> bad{0};
  run_region(pool, 0, [&](int index, int count) {
    if (ThreadPool::thread_index() != index || ThreadPool::region_threads() != count) ++bad;
    if (!ThreadPool::in_parallel_region()) ++bad;
    // A nested region runs on this thread alone, still inside the outer one.
    Record inner;
    record_region(pool, 0, inner);
    if (inner.indices != std::vector<int>{0} || inner.counts != std::vector<int>{1}) ++bad;
    if (inner.index0_thread != std::this_thread::get_id()) ++bad;
    if (ThreadPool::thread_index() != index || ThreadPool::region_threads() != count) ++bad;
    // And so does one of another pool.
    ThreadPool other(2);
    run_region(other, 0, [&](int i, int n) {
      if (i != 0 || n != 1 || !ThreadPool::in_parallel_region()) ++bad;
    });
  });
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(ThreadPool::region_threads(), 1) << "restored after the region";

  // A region of one thread is not parallel.
  bool parallel = true;
  run_region(pool, 1, [&](int, int) { parallel = ThreadPool::in_parallel_region(); });
  EXPECT_FALSE(parallel);
}

TEST(ThreadPool, BarrierSeparatesPhases) {
  ThreadPool pool(4);
  constexpr int kRounds = 300;
  std::vector<std::atomic<int>> reached(4);
  std::atomic<int> early{0};
  run_region(pool, 0, [&](int index, int count) {
    for (int round = 1; round <= kRounds; ++round) {
      reached[static_cast<size_t>(index)].store(round);
      // Every few rounds one thread is late, past the spin, so the others sleep.
      if (round % 50 == index) std::this_thread::sleep_for(std::chrono::microseconds(300));
      ThreadPool::barrier();
      for (int i = 0; i < count; ++i) {
        if (reached[static_cast<size_t>(i)].load() < round) ++early;
      }
      ThreadPool::barrier();
    }
  });
  EXPECT_EQ(early.load(), 0);
}

TEST(ThreadPool, BackToBackRegionsAndRegionsAfterSleep) {
  ThreadPool pool(3);
  std::vector<int64_t> sums(3, 0);
  constexpr int kRegions = 3000;
  for (int r = 0; r < kRegions; ++r) {
    run_region(pool, 0, [&](int index, int) { sums[static_cast<size_t>(index)] += r; });
  }
  const int64_t want = int64_t{kRegions} * (kRegions - 1) / 2;
  EXPECT_EQ(sums, std::vector<int64_t>(3, want));
  EXPECT_EQ(pool.regions_started(), kRegions);

  // Gaps and slow workers past the spin: both waits go to sleep and wake.
  for (int r = 0; r < 20; ++r) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    run_region(pool, 0, [&](int index, int) {
      if (index == r % 3) std::this_thread::sleep_for(std::chrono::microseconds(400));
      sums[static_cast<size_t>(index)] += 1;
    });
  }
  EXPECT_EQ(sums, std::vector<int64_t>(3, want + 20));
}

TEST(ThreadPool, ConcurrentCallersTakeTurns) {
  ThreadPool pool(2);
  constexpr int kRegions = 500;
  std::vector<int64_t> totals(2, 0);
  std::vector<std::thread> callers;
  for (int c = 0; c < 2; ++c) {
    callers.emplace_back([&, c] {
      for (int r = 0; r < kRegions; ++r) {
        std::atomic<int> ran{0};
        run_region(pool, 0, [&](int, int count) { ran.fetch_add(count); });
        totals[static_cast<size_t>(c)] += ran.load();
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(totals, std::vector<int64_t>(2, int64_t{kRegions} * 4)) << "every region had both threads";
}

// State letter and CPU ticks (user + system) of one thread of this process.
bool thread_stat(pid_t tid, char* state, long long* ticks) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(text.substr(close + 2));
  std::string skip;
  long long utime = 0, stime = 0;
  fields >> *state;
  for (int i = 0; i < 10; ++i) fields >> skip;  // ppid .. cmajflt
  fields >> utime >> stime;
  *ticks = utime + stime;
  return static_cast<bool>(fields);
}

TEST(ThreadPool, IdleWorkersSleep) {
  ThreadPool pool(3);
  EXPECT_TRUE(pool.worker_ids().empty()) << "no thread before the first region";
  run_region(pool, 0, [](int, int) {});
  const std::vector<pid_t> workers = pool.worker_ids();
  ASSERT_EQ(workers.size(), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // far past the spin
  std::vector<long long> before(workers.size());
  for (size_t i = 0; i < workers.size(); ++i) {
    char state = '?';
    ASSERT_TRUE(thread_stat(workers[i], &state, &before[i]));
    EXPECT_EQ(state, 'S') << "worker " << i << " should be asleep";
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (size_t i = 0; i < workers.size(); ++i) {
    char state = '?';
    long long after = 0;
    ASSERT_TRUE(thread_stat(workers[i], &state, &after));
    EXPECT_EQ(after, before[i]) << "worker " << i << " used CPU while idle";
  }
}

TEST(ThreadPool, ForkChildStartsItsOwnWorkers) {
  ThreadPool pool(2);
  std::atomic<int> ran{0};
  run_region(pool, 0, [&](int, int) { ++ran; });
  ASSERT_EQ(ran.load(), 2);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atomic<int> in_child{0};
    run_region(pool, 0, [&](int, int) { ++in_child; });
    _exit(in_child.load() == 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ParallelFor, CoversEveryIndexOnceInContiguousRanges) {
  const int64_t big = kParallelMinElements + 3;
  for (const int64_t count : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{3}, int64_t{7}, big}) {
    std::mutex mu;
    std::vector<std::pair<int64_t, int64_t>> ranges;
    std::vector<int> hits(static_cast<size_t>(count), 0);
    parallel_for(count, big, [&](int64_t begin, int64_t end) {
      std::lock_guard<std::mutex> lock(mu);
      ranges.emplace_back(begin, end);
      for (int64_t i = begin; i < end; ++i) ++hits[static_cast<size_t>(i)];
    });
    EXPECT_EQ(hits, std::vector<int>(static_cast<size_t>(count), 1)) << count;
    EXPECT_LE(ranges.size(), static_cast<size_t>(ThreadPool::global().size())) << count;
    std::sort(ranges.begin(), ranges.end());
    int64_t next = 0;
    for (const auto& r : ranges) {
      EXPECT_EQ(r.first, next) << count;
      EXPECT_LT(r.first, r.second) << "no empty range is handed out";
      next = r.second;
    }
    EXPECT_EQ(next, count);
    if (count >= ThreadPool::global().size()) {
      EXPECT_EQ(ranges.size(), static_cast<size_t>(ThreadPool::global().size())) << count;
    }
  }
}

TEST(ParallelFor, SmallWorkStaysOnTheCaller) {
  std::vector<std::pair<int64_t, int64_t>> ranges;
  std::thread::id ran_on;
  parallel_for(1000, kParallelMinElements - 1, [&](int64_t begin, int64_t end) {
    ranges.emplace_back(begin, end);
    ran_on = std::this_thread::get_id();
  });
  EXPECT_EQ(ranges, (std::vector<std::pair<int64_t, int64_t>>{{0, 1000}}));
  EXPECT_EQ(ran_on, std::this_thread::get_id());
}

}  // namespace
}  // namespace qtf
