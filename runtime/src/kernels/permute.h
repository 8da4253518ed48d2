// Axis permutation of fixed-size element tensors, the data movement behind
// Transpose and the ops that are a reshape-transpose-reshape (DepthToSpace,
// SpaceToBatchND, Einsum's operand layouts).
#pragma once

#include <vector>

#include "core/tensor.h"

namespace qtf {

// Output axis d is input axis perm[d]; `perm` must be a permutation of the
// axes of `x`, whose dtype has a fixed element size. An identity `perm`
// returns `x` itself (no copy).
Tensor permute_axes(const Tensor& x, const std::vector<int64_t>& perm);

}  // namespace qtf
