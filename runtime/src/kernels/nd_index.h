// Index rows into the leading dimensions of a tensor, the addressing shared
// by GatherNd, ScatterNd, TensorScatter* and SparseToDense: each row of K
// coordinates names one slice of shape[K:].
#pragma once

#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

struct NdIndex {
  int64_t rows = 0;          // number of index rows
  int64_t slice = 1;         // elements per addressed slice
  // Element offset of each row's slice, or -1 for a row outside the shape.
  std::vector<int64_t> offsets;
  int64_t first_bad = -1;    // first row outside the shape, -1 if none
};

// Reads `indices` of shape [..., K] (K <= rank of `shape`) and resolves every
// row against `shape`. Fails only on malformed input (rank, dtype, K too
// large); rows outside the shape are reported through first_bad.
Status resolve_nd_indices(const Tensor& indices, const Shape& shape, const std::string& where,
                          NdIndex* out);

// "indices[1] = [3, 0]", the message form of one index row.
std::string nd_row_string(const Tensor& indices, int64_t row);

// How out-of-range rows are treated, from a "bad_indices_policy" attr:
// "" and "DEFAULT" and "ERROR" fail the run (TensorFlow's CPU behaviour),
// "IGNORE" skips them.
Status parse_bad_indices_policy(const std::string& text, const std::string& where, bool* ignore);

}  // namespace qtf
