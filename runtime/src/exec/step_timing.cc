#include "exec/step_timing.h"

#include <atomic>

namespace qtf {
namespace {

std::atomic<StepRecorder*>& current() {
  static std::atomic<StepRecorder*> recorder{nullptr};
  return recorder;
}

}  // namespace

void set_step_recorder(StepRecorder* recorder) { current().store(recorder); }
StepRecorder* step_recorder() { return current().load(std::memory_order_relaxed); }

}  // namespace qtf
