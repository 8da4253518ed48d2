// Prints the size of the runtime's pool and how many distinct threads ran a
// full region, for tests that start it under a given affinity mask.
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>

#include "threading/thread_pool.h"

namespace {

struct Seen {
  std::mutex mu;
  std::set<std::thread::id> threads;
};

void record(void* arg, int, int) {
  Seen& seen = *static_cast<Seen*>(arg);
  std::lock_guard<std::mutex> lock(seen.mu);
  seen.threads.insert(std::this_thread::get_id());
}

}  // namespace

int main() {
  qtf::ThreadPool& pool = qtf::ThreadPool::global();
  Seen seen;
  pool.run(0, &record, &seen);
  std::printf("pool %d region %zu\n", pool.size(), seen.threads.size());
  return 0;
}
