#include "threading/thread_count.h"

#include <algorithm>
#include <cstdlib>

#include "threading/cpu_quota.h"

namespace qtf {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::optional<int> threads_asked(const char* omp_num_threads) {
  if (omp_num_threads == nullptr) return std::nullopt;
  const char* p = omp_num_threads;
  while (is_space(*p)) ++p;
  // Anything past a million threads is as good as no limit.
  constexpr long kLargest = 1000000;
  long value = 0;
  const char* digits = p;
  for (; *p >= '0' && *p <= '9'; ++p) value = std::min(kLargest, value * 10 + (*p - '0'));
  if (p == digits || value == 0) return std::nullopt;
  while (is_space(*p)) ++p;
  if (*p != '\0' && *p != ',') return std::nullopt;
  return static_cast<int>(value);
}

int pool_thread_count() {
  // The same rule as a quota: a cap, never more than the usable CPUs.
  return usable_cpus(usable_cpu_count(), threads_asked(std::getenv("OMP_NUM_THREADS")));
}

}  // namespace qtf
