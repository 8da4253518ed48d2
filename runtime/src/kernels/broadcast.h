// NumPy-style broadcasting of two shapes into a compact loop plan.
//
// The plan drops size-1 output dimensions and merges neighbouring dimensions
// that broadcast the same way, so most real cases (same shape, scalar, bias
// over the last axis) end in one or two loops whose innermost one walks
// contiguous memory.
#pragma once

#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

struct BroadcastPlan {
  Shape out_shape;
  // Merged loop dimensions, outermost first, with element strides of x and y
  // (0 where that operand is broadcast). Empty for a single element.
  std::vector<int64_t> dims, x_strides, y_strides;
};

// Fails with a message (without node prefix) when the shapes are incompatible.
Status make_broadcast_plan(const Shape& x, const Shape& y, BroadcastPlan* plan);

// Runs f(x[i], y[j]) -> z[k] over the plan. The innermost loop has one of
// three stride patterns and is written so the compiler vectorises it.
template <typename X, typename Y, typename Z, typename F>
void broadcast_loop(const BroadcastPlan& plan, const X* x, const Y* y, Z* z, F f) {
  const size_t rank = plan.dims.size();
  if (rank == 0) {
    z[0] = f(x[0], y[0]);
    return;
  }
  const int64_t inner = plan.dims[rank - 1];
  const int64_t sx = plan.x_strides[rank - 1];
  const int64_t sy = plan.y_strides[rank - 1];
  std::vector<int64_t> index(rank, 0);
  int64_t xo = 0, yo = 0;
  const int64_t total = num_elements(plan.out_shape);
  for (int64_t done = 0; done < total; done += inner) {
    const X* xp = x + xo;
    const Y* yp = y + yo;
    Z* zp = z + done;
    if (sx == 1 && sy == 1) {
      for (int64_t i = 0; i < inner; ++i) zp[i] = f(xp[i], yp[i]);
    } else if (sx == 0) {
      const X a = xp[0];
      for (int64_t i = 0; i < inner; ++i) zp[i] = f(a, yp[i]);
    } else {
      const Y b = yp[0];
      for (int64_t i = 0; i < inner; ++i) zp[i] = f(xp[i], b);
    }
    // Advance the outer odometer.
    for (size_t d = rank - 1; d-- > 0;) {
      xo += plan.x_strides[d];
      yo += plan.y_strides[d];
      if (++index[d] < plan.dims[d]) break;
      xo -= plan.x_strides[d] * plan.dims[d];
      yo -= plan.y_strides[d] * plan.dims[d];
      index[d] = 0;
    }
  }
}

}  // namespace qtf
