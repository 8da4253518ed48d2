// Optional per-step timing for benchmarks: while a recorder is installed,
// the executor reports the wall time of every kernel step it runs (function
// call steps are not reported; their bodies' steps are). With none
// installed the cost is one atomic load per step.
#pragma once

#include <string>

namespace qtf {

class StepRecorder {
 public:
  virtual ~StepRecorder() = default;
  // `node` is the step's node (for a fused step, the last op it absorbed).
  virtual void record(const std::string& node, const std::string& op, double ms) = 0;
};

// Installs `recorder` (nullptr removes it); it must outlive its use.
void set_step_recorder(StepRecorder* recorder);
StepRecorder* step_recorder();

}  // namespace qtf
