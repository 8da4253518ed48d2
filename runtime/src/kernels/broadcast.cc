// Broadcast plan construction.
#include "kernels/broadcast.h"

#include <algorithm>

namespace qtf {

Status make_broadcast_plan(const Shape& x, const Shape& y, BroadcastPlan* plan) {
  const size_t rank = std::max(x.size(), y.size());
  // Align both shapes on the right, padding with 1s.
  Shape xa(rank, 1), ya(rank, 1);
  std::copy(x.begin(), x.end(), xa.begin() + static_cast<long>(rank - x.size()));
  std::copy(y.begin(), y.end(), ya.begin() + static_cast<long>(rank - y.size()));

  plan->out_shape.assign(rank, 1);
  for (size_t d = 0; d < rank; ++d) {
    if (xa[d] == ya[d] || ya[d] == 1) {
      plan->out_shape[d] = xa[d];
    } else if (xa[d] == 1) {
      plan->out_shape[d] = ya[d];
    } else {
      return invalid_argument("incompatible shapes: " + shape_string(x) + " vs. " +
                              shape_string(y));
    }
  }

  // Element strides of the aligned operands (0 where broadcast).
  auto strides = [rank](const Shape& s, const Shape& out) {
    std::vector<int64_t> st(rank, 0);
    int64_t step = 1;
    for (size_t d = rank; d-- > 0;) {
      st[d] = (s[d] == 1 && out[d] != 1) ? 0 : step;
      step *= s[d];
    }
    return st;
  };
  const std::vector<int64_t> xs = strides(xa, plan->out_shape);
  const std::vector<int64_t> ys = strides(ya, plan->out_shape);

  plan->dims.clear();
  plan->x_strides.clear();
  plan->y_strides.clear();
  if (num_elements(plan->out_shape) == 0) {
    // Nothing to compute; a single zero-length loop keeps broadcast_loop simple.
    plan->dims.push_back(0);
    plan->x_strides.push_back(1);
    plan->y_strides.push_back(1);
    return Status::ok();
  }
  for (size_t d = 0; d < rank; ++d) {
    const int64_t n = plan->out_shape[d];
    if (n == 1) continue;
    if (!plan->dims.empty()) {
      // Merge with the previous loop when both operands keep their pattern:
      // contiguous stays contiguous and broadcast stays broadcast.
      const size_t k = plan->dims.size() - 1;
      const bool x_same = (plan->x_strides[k] == 0) == (xs[d] == 0);
      const bool y_same = (plan->y_strides[k] == 0) == (ys[d] == 0);
      if (x_same && y_same) {
        plan->dims[k] *= n;
        plan->x_strides[k] = xs[d];
        plan->y_strides[k] = ys[d];
        continue;
      }
    }
    plan->dims.push_back(n);
    plan->x_strides.push_back(xs[d]);
    plan->y_strides.push_back(ys[d]);
  }
  return Status::ok();
}

}  // namespace qtf
