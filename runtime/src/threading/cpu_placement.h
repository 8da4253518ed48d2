// Keeping a pool worker off the CPU its region's caller runs on.
//
// Some schedulers (notably in virtual machines that pack lightly loaded
// vCPUs) wake a sleeping thread on the CPU of the thread that woke it. For a
// fork-join region that stacks the worker behind its caller, and the two
// halves of the region then run one after the other. A worker therefore
// sleeps with the caller's CPU taken out of its mask, and moves itself off
// that CPU if it starts a share there anyway.
#pragma once

#include <sched.h>

namespace qtf {

// For its lifetime, takes `cpu` out of the calling thread's CPU mask, unless
// that would leave no CPU (or `cpu` is not in the mask, or is negative). The
// mask is restored on destruction.
class AvoidCpu {
 public:
  explicit AvoidCpu(int cpu);
  ~AvoidCpu();
  AvoidCpu(const AvoidCpu&) = delete;
  AvoidCpu& operator=(const AvoidCpu&) = delete;

  // Whether the mask was narrowed.
  bool active() const { return active_; }

 private:
  cpu_set_t saved_;
  bool active_ = false;
};

// Moves the calling thread off `cpu` when it runs there and may run on
// another CPU; its mask is unchanged afterwards. True if it moved.
bool move_off_cpu(int cpu);

}  // namespace qtf
