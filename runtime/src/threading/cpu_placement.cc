#include "threading/cpu_placement.h"

namespace qtf {

AvoidCpu::AvoidCpu(int cpu) {
  if (cpu < 0 || cpu >= CPU_SETSIZE) return;
  if (sched_getaffinity(0, sizeof saved_, &saved_) != 0) return;
  if (!CPU_ISSET(cpu, &saved_) || CPU_COUNT(&saved_) < 2) return;
  cpu_set_t others = saved_;
  CPU_CLR(cpu, &others);
  // The kernel moves a running thread off a CPU leaving its mask before
  // the call returns.
  active_ = sched_setaffinity(0, sizeof others, &others) == 0;
}

AvoidCpu::~AvoidCpu() {
  if (active_) sched_setaffinity(0, sizeof saved_, &saved_);
}

bool move_off_cpu(int cpu) {
  if (cpu < 0 || sched_getcpu() != cpu) return false;
  return AvoidCpu(cpu).active();
}

}  // namespace qtf
