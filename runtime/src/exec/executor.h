// Runs a plan: binds the feeds, calls each step's kernel (or function) in
// order, hands every value to its last reader by move so kernels can work in
// place, drops values once nothing needs them, and returns the fetched values.
#pragma once

#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "exec/plan.h"

namespace qtf {

// `feeds` are consumed. On success `*fetches` holds one tensor per fetch slot.
Status run_plan(const Plan& plan, std::vector<Tensor> feeds, std::vector<Tensor>* fetches);

}  // namespace qtf
