// Runs a plan: binds the feeds, calls each step's kernel (or function) in
// order, hands every value to its last reader by move so kernels can work in
// place, drops values once nothing needs them, and returns the fetched values.
#pragma once

#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "exec/plan.h"

namespace qtf {

// Storage for running plans: the value slots and the per-step scratch stay
// allocated between runs, so a function called once per loop iteration costs
// no allocation of its own. A frame runs one plan at a time.
class Frame {
 public:
  // `*feeds` are consumed (left empty). On success `*fetches` holds one
  // tensor per fetch slot, owned by the caller alone where the plan allows.
  Status run(const Plan& plan, std::vector<Tensor>* feeds, std::vector<Tensor>* fetches);

 private:
  Status run_steps(const Plan& plan);
  void clear();

  std::vector<Tensor> slots_;
  std::vector<Tensor> inputs_;
  std::vector<Tensor> outputs_;
};

// `feeds` are consumed. On success `*fetches` holds one tensor per fetch slot.
Status run_plan(const Plan& plan, std::vector<Tensor> feeds, std::vector<Tensor>* fetches);

}  // namespace qtf
