// Float matrix products through oneDNN's matmul primitive over a batch of
// (A, B) pairs: what MatMul, BatchMatMulV2 and Einsum's contractions run.
//
// Primitives are cached per shape and transpose flags. A batch without
// broadcasting runs as one 3-D primitive; a batch whose B is one shared
// matrix folds into the rows of A; anything else runs the 2-D primitive
// once per output matrix on offset pointers.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/status.h"
#include "kernels/broadcast.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {

// One product op(A) [m, k] x op(B) [k, n]; a transposed operand is stored
// [k, m] (or [n, k]) and read column-major, never copied.
struct MatMulDims {
  int64_t m = 0, k = 0, n = 0;
  bool ta = false, tb = false;
};

// Matrix index in x and in y for each output matrix of a broadcast plan over
// the batch axes, in output order.
void broadcast_matrix_sources(const BroadcastPlan& plan, std::vector<int64_t>* x_index,
                              std::vector<int64_t>* y_index);

class BatchedMatMul {
 public:
  // out[i] = op(a[a_index[i]]) x op(b[b_index[i]]) for every i, matrices
  // packed one after another (m*k, k*n and m*n floats). A zero k gives zeros.
  Status run(const std::string& where, const MatMulDims& dims, const float* a, const float* b,
             float* out, const std::vector<int64_t>& a_index, const std::vector<int64_t>& b_index);

 private:
  struct Plan {
    MatMulDims dims;
    int64_t batch;
    dnnl::matmul::primitive_desc pd;
    dnnl::matmul primitive;
  };
  Status find_plan(const std::string& where, const MatMulDims& dims, int64_t batch, Plan** out);

  std::mutex mu_;
  std::deque<Plan> plans_;  // deque: plan addresses stay valid as it grows
};

}  // namespace qtf
