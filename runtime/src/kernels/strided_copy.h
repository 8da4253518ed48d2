// Copies a strided window of a tensor (the core of Slice and StridedSlice).
#pragma once

#include <vector>

#include "core/tensor.h"

namespace qtf {

// Fills `out` (shape = sizes, same dtype as `in`) with
// in[begin[d] + i[d] * strides[d]] for every index i < sizes. All vectors have
// in.rank() entries and describe a window inside `in`. Numeric, bool and
// string tensors.
void strided_copy(const Tensor& in, const std::vector<int64_t>& begin,
                  const std::vector<int64_t>& strides, const std::vector<int64_t>& sizes,
                  Tensor& out);

// Copies n consecutive elements from src[src_offset] to dst[dst_offset]
// (same dtype, numeric, bool or string).
void copy_elements(const Tensor& src, int64_t src_offset, Tensor& dst, int64_t dst_offset,
                   int64_t n);

// True for the dtypes the array kernels can move: fixed-size types and strings.
bool is_movable_dtype(DataType t);

}  // namespace qtf
