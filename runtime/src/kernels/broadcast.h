// NumPy-style broadcasting of two shapes into a compact loop plan.
//
// The plan drops size-1 output dimensions and merges neighbouring dimensions
// that broadcast the same way, so most real cases (same shape, scalar, bias
// over the last axis) end in one or two loops whose innermost one walks
// contiguous memory.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "kernels/parallel.h"

namespace qtf {

struct BroadcastPlan {
  Shape out_shape;
  // Merged loop dimensions, outermost first, with element strides of x and y
  // (0 where that operand is broadcast). Empty for a single element.
  std::vector<int64_t> dims, x_strides, y_strides;
};

// Fails with a message (without node prefix) when the shapes are incompatible.
Status make_broadcast_plan(const Shape& x, const Shape& y, BroadcastPlan* plan);

// One row of a broadcast loop: z[i] = f(x[i * sx], y[i * sy]) where each
// stride is 0 or 1, written so the compiler vectorises it.
template <typename X, typename Y, typename Z, typename F>
inline void broadcast_row(const X* xp, const Y* yp, Z* zp, int64_t n, int64_t sx, int64_t sy, F& f) {
  if (sx == 1 && sy == 1) {
    for (int64_t i = 0; i < n; ++i) zp[i] = f(xp[i], yp[i]);
  } else if (sx == 0) {
    const X a = xp[0];
    for (int64_t i = 0; i < n; ++i) zp[i] = f(a, yp[i]);
  } else {
    const Y b = yp[0];
    for (int64_t i = 0; i < n; ++i) zp[i] = f(xp[i], b);
  }
}

// Runs f(x[i], y[j]) -> z[k] over the plan. The innermost loop has one of
// three stride patterns. Plans of one or two merged dimensions (same
// shapes, a scalar, a per-channel operand) are split across the thread pool
// when large; deeper plans run on one thread.
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
  if (rank <= 2) {
    const int64_t rows = rank == 2 ? plan.dims[0] : 1;
    const int64_t rx = rank == 2 ? plan.x_strides[0] : 0;
    const int64_t ry = rank == 2 ? plan.y_strides[0] : 0;
    // Rows of at least this many elements are cut into blocks so a single
    // long row is shared between threads too.
    const int64_t block = inner >= kParallelMinElements ? kParallelMinElements / 4 : inner;
    const int64_t blocks_per_row = block == 0 ? 0 : (inner + block - 1) / block;
    const int64_t tasks = rows * blocks_per_row;
    parallel_for(tasks, rows * inner, [&](int64_t first, int64_t last) {
      for (int64_t task = first; task < last; ++task) {
        const int64_t r = task / blocks_per_row;
        const int64_t begin = (task % blocks_per_row) * block;
        const int64_t n = std::min(block, inner - begin);
        broadcast_row(x + r * rx + begin * sx, y + r * ry + begin * sy, z + r * inner + begin, n, sx, sy, f);
      }
    });
    return;
  }
  std::vector<int64_t> index(rank, 0);
  int64_t xo = 0, yo = 0;
  const int64_t total = num_elements(plan.out_shape);
  for (int64_t done = 0; done < total; done += inner) {
    broadcast_row(x + xo, y + yo, z + done, inner, sx, sy, f);
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
