// The runtime's worker threads: fork-join regions for its own loops and for
// oneDNN (whose OpenMP calls are served here, see openmp_on_pool.h).
//
// Waiting threads spin for at most kSpinBeforeSleep (the caller of a region
// up to kSpinWhileBusy while workers still run their shares), then sleep in the
// kernel (futex) until there is work, so idle workers cost nothing on a
// machine shared with other processes and a worker the scheduler delayed
// never has its CPU taken by spinning team mates. Workers keep off the
// caller's CPU (cpu_placement.h). The process-wide pool has
// pool_thread_count() threads (thread_count.h), decided once; its workers
// start on the first region and stay parked between runs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace qtf {

// Long enough to catch the next region of a run of back-to-back kernels,
// short against a scheduler time slice.
constexpr std::chrono::microseconds kSpinBeforeSleep{50};
// How long the caller of a region waits spinning for workers that are
// running their shares: they are on other CPUs, and sleeping would let the
// scheduler wake the caller where a worker runs.
constexpr std::chrono::microseconds kSpinWhileBusy{2000};

class ThreadPool {
 public:
  // task(arg, index, count) runs once for every index in [0, count). Must
  // not throw.
  using Task = void (*)(void* arg, int index, int count);

  // The process-wide pool, made on first use.
  static ThreadPool& global();

  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Threads of a full region, the caller included.
  int size() const { return size_; }

  // Runs a region of min(threads, size()) threads (size() when threads <= 0)
  // with index 0 on the calling thread, and returns when every index has
  // returned. Called from inside a region it runs task(arg, 0, 1) on the
  // caller: nested regions add no threads. Regions of different callers
  // take turns.
  void run(int threads, Task task, void* arg);

  // Of the calling thread: its index in the innermost region (0 outside
  // one), that region's thread count (1 outside), and whether some
  // enclosing region has more than one thread.
  static int thread_index();
  static int region_threads();
  static bool in_parallel_region();
  // Waits until every thread of the calling thread's innermost region has
  // arrived; nothing to wait for outside a region or in one of one thread.
  static void barrier();

  // Regions that ran on more than one thread (for tests).
  int64_t regions_started() const { return regions_.load(std::memory_order_relaxed); }
  // Kernel thread ids of the started workers (for tests).
  std::vector<pid_t> worker_ids() const;

 private:
  void start_workers();
  void worker_main(int index);
  void region_barrier(int count);

  const int size_;
  mutable std::mutex run_mu_;  // one region at a time
  std::vector<std::thread> workers_;
  std::vector<pid_t> worker_ids_;
  pid_t owner_ = 0;  // the process the workers were started in (not a fork child)

  // The current region, published by bumping `start_`.
  Task task_ = nullptr;
  void* arg_ = nullptr;
  int count_ = 0;
  bool stop_ = false;
  std::atomic<uint32_t> start_{0};
  std::atomic<int> start_sleepers_{0};
  std::atomic<int> unfinished_{0};  // workers (all of them) yet to check in
  std::atomic<uint32_t> finished_{0};
  std::atomic<int> finished_sleepers_{0};
  std::atomic<int> arrived_{0};  // barrier of the current region
  std::atomic<uint32_t> barrier_round_{0};
  std::atomic<int> barrier_sleepers_{0};
  std::atomic<int64_t> regions_{0};
  std::atomic<int> ids_known_{0};
  std::atomic<int> caller_cpu_{-1};  // where the latest region's caller ran
  std::atomic<int> working_{0};      // workers inside their share
};

}  // namespace qtf
