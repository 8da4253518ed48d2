#include "threading/thread_pool.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "threading/cpu_placement.h"
#include "threading/thread_count.h"

namespace qtf {
namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "futex words are plain 32-bit integers");

// The region the calling thread is in.
struct RegionSlot {
  ThreadPool* pool = nullptr;
  int index = 0;
  int count = 1;
  bool active = false;  // some enclosing region has more than one thread
};
thread_local RegionSlot current_region;

// Enters a region for the lifetime of the object.
class EnterRegion {
 public:
  EnterRegion(ThreadPool* pool, int index, int count)
      : saved_(current_region) {
    current_region = RegionSlot{pool, index, count, saved_.active || count > 1};
  }
  ~EnterRegion() { current_region = saved_; }
  EnterRegion(const EnterRegion&) = delete;
  EnterRegion& operator=(const EnterRegion&) = delete;

 private:
  RegionSlot saved_;
};

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

uint32_t* futex_word(std::atomic<uint32_t>& word) { return reinterpret_cast<uint32_t*>(&word); }

// Waits until `word` differs from `seen` and returns its new value: a short
// bounded spin, then sleeps, away from CPU `avoid_cpu` when one is given
// (see cpu_placement.h). `sleepers` lets the waker skip the system call when
// nobody sleeps.
uint32_t wait_for_change(std::atomic<uint32_t>& word, uint32_t seen, std::atomic<int>& sleepers,
                         int avoid_cpu = -1, const std::atomic<int>* busy = nullptr) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  const clock::time_point give_up = start + kSpinBeforeSleep;
  const clock::time_point give_up_busy = start + kSpinWhileBusy;
  for (int spin = 1;; ++spin) {
    const uint32_t now = word.load(std::memory_order_acquire);
    if (now != seen) return now;
    cpu_relax();
    if (spin % 64 == 0) {
      const clock::time_point t = clock::now();
      const bool others_working = busy != nullptr && busy->load(std::memory_order_relaxed) > 0;
      if (t >= (others_working ? give_up_busy : give_up)) break;
    }
  }
  const AvoidCpu away(avoid_cpu);
  for (;;) {
    sleepers.fetch_add(1, std::memory_order_seq_cst);
    // The kernel sleeps only while the word still equals `seen`, so a change
    // made before this call is never missed.
    if (word.load(std::memory_order_seq_cst) == seen) {
      syscall(SYS_futex, futex_word(word), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
    }
    sleepers.fetch_sub(1, std::memory_order_relaxed);
    const uint32_t now = word.load(std::memory_order_acquire);
    if (now != seen) return now;
  }
}

// Changes `word` and wakes whoever sleeps on it.
void bump_and_wake(std::atomic<uint32_t>& word, std::atomic<int>& sleepers) {
  word.fetch_add(1, std::memory_order_seq_cst);
  if (sleepers.load(std::memory_order_seq_cst) > 0) {
    syscall(SYS_futex, futex_word(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  }
}

}  // namespace

ThreadPool& ThreadPool::global() {
  // Never destroyed: parked workers may outlive static destructors at exit.
  static ThreadPool* pool = new ThreadPool(pool_thread_count());
  return *pool;
}

ThreadPool::ThreadPool(int threads) : size_(std::max(1, threads)) {}

ThreadPool::~ThreadPool() {
  if (workers_.empty() || owner_ != getpid()) {
    for (std::thread& w : workers_) w.detach();  // a fork child never had them
    return;
  }
  stop_ = true;
  unfinished_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
  bump_and_wake(start_, start_sleepers_);
  for (std::thread& w : workers_) w.join();
}

void ThreadPool::start_workers() {
  // A fork child inherits the pool but not its threads: start new ones.
  for (std::thread& w : workers_) w.detach();
  workers_.clear();
  worker_ids_.assign(static_cast<size_t>(size_ - 1), 0);
  ids_known_.store(0, std::memory_order_relaxed);
  owner_ = getpid();
  for (int i = 1; i < size_; ++i) workers_.emplace_back([this, i] { worker_main(i); });
  // Wait until every worker has recorded its id (and seen the start word).
  while (ids_known_.load(std::memory_order_acquire) < size_ - 1) std::this_thread::yield();
}

void ThreadPool::worker_main(int index) {
  pthread_setname_np(pthread_self(), "qtf-worker");
  uint32_t seen = start_.load(std::memory_order_acquire);
  worker_ids_[static_cast<size_t>(index - 1)] = static_cast<pid_t>(syscall(SYS_gettid));
  ids_known_.fetch_add(1, std::memory_order_release);
  for (;;) {
    seen = wait_for_change(start_, seen, start_sleepers_, caller_cpu_.load(std::memory_order_relaxed));
    if (stop_) return;
    if (index < count_) {
      // Sharing the caller's CPU would run this share after the caller's.
      move_off_cpu(caller_cpu_.load(std::memory_order_relaxed));
      working_.fetch_add(1, std::memory_order_relaxed);
      {
        EnterRegion region(this, index, count_);
        task_(arg_, index, count_);
      }
      working_.fetch_sub(1, std::memory_order_relaxed);
    }
    // Every worker checks in, taking part or not, so none still reads this
    // region's fields when the next one is published.
    if (unfinished_.fetch_sub(1, std::memory_order_acq_rel) == 1) bump_and_wake(finished_, finished_sleepers_);
  }
}

void ThreadPool::run(int threads, Task task, void* arg) {
  const int count = threads <= 0 ? size_ : std::min(threads, size_);
  if (current_region.pool != nullptr || count == 1) {
    EnterRegion region(this, 0, 1);
    task(arg, 0, 1);
    return;
  }
  std::lock_guard<std::mutex> lock(run_mu_);
  if (workers_.empty() || owner_ != getpid()) start_workers();
  task_ = task;
  arg_ = arg;
  count_ = count;
  caller_cpu_.store(sched_getcpu(), std::memory_order_relaxed);
  arrived_.store(0, std::memory_order_relaxed);
  unfinished_.store(size_ - 1, std::memory_order_relaxed);
  const uint32_t finished = finished_.load(std::memory_order_relaxed);
  bump_and_wake(start_, start_sleepers_);  // publishes the fields above
  {
    EnterRegion region(this, 0, count);
    task(arg, 0, count);
  }
  wait_for_change(finished_, finished, finished_sleepers_, -1, &working_);
  regions_.fetch_add(1, std::memory_order_relaxed);
}

void ThreadPool::region_barrier(int count) {
  const uint32_t round = barrier_round_.load(std::memory_order_acquire);
  if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
    // Nobody can arrive again before the round changes.
    arrived_.store(0, std::memory_order_relaxed);
    bump_and_wake(barrier_round_, barrier_sleepers_);
    return;
  }
  wait_for_change(barrier_round_, round, barrier_sleepers_);
}

int ThreadPool::thread_index() { return current_region.index; }
int ThreadPool::region_threads() { return current_region.count; }
bool ThreadPool::in_parallel_region() { return current_region.active; }

void ThreadPool::barrier() {
  const RegionSlot& slot = current_region;
  if (slot.pool != nullptr && slot.count > 1) slot.pool->region_barrier(slot.count);
}

std::vector<pid_t> ThreadPool::worker_ids() const {
  std::lock_guard<std::mutex> lock(run_mu_);
  return worker_ids_;
}

}  // namespace qtf
