// Axis gather: [batch, outer, axis, inner] view of params, one contiguous
// copy of `inner` elements per (batch, outer, index).
#include "kernels/gather.h"

#include <vector>

#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {

std::string index_string(const Shape& shape, int64_t flat) {
  std::vector<int64_t> coords(shape.size(), 0);
  for (size_t d = shape.size(); d-- > 0;) {
    if (shape[d] > 0) {
      coords[d] = flat % shape[d];
      flat /= shape[d];
    }
  }
  std::string s = shape_string(coords);
  return s.substr(1, s.size() - 2);
}

Status gather_along_axis(const Tensor& params, const Tensor& indices, int64_t axis,
                         int64_t batch_dims, const std::string& where, Tensor* out) {
  if (!is_movable_dtype(params.dtype())) {
    return invalid_argument(where + "cannot gather " + dtype_name(params.dtype()) + " tensors");
  }
  if (batch_dims > indices.rank() || batch_dims > axis) {
    return invalid_argument(where + "batch_dims " + std::to_string(batch_dims) +
                            " must be at most the rank of indices " + shape_string(indices.shape()) +
                            " and the axis " + std::to_string(axis));
  }
  for (int64_t d = 0; d < batch_dims; ++d) {
    if (params.dim(static_cast<int>(d)) != indices.dim(static_cast<int>(d))) {
      return invalid_argument(where + "params " + shape_string(params.shape()) + " and indices " +
                              shape_string(indices.shape()) + " differ in batch dimension " +
                              std::to_string(d));
    }
  }
  std::vector<int64_t> idx;
  QTF_RETURN_IF_ERROR(read_index_tensor(indices, where, "indices", &idx));
  const int64_t n = params.dim(static_cast<int>(axis));
  for (size_t i = 0; i < idx.size(); ++i) {
    if (idx[i] < 0 || idx[i] >= n) {
      return invalid_argument(where + "indices[" + index_string(indices.shape(), static_cast<int64_t>(i)) +
                              "] = " + std::to_string(idx[i]) + " is not in [0, " +
                              std::to_string(n) + ")");
    }
  }
  int64_t batch = 1, outer = 1, inner = 1;
  Shape out_shape;
  for (int d = 0; d < params.rank(); ++d) {
    if (d < batch_dims) batch *= params.dim(d);
    else if (d < axis) outer *= params.dim(d);
    else if (d > axis) inner *= params.dim(d);
    if (d < axis) out_shape.push_back(params.dim(d));
    if (d == axis) {
      for (int k = static_cast<int>(batch_dims); k < indices.rank(); ++k) out_shape.push_back(indices.dim(k));
    }
  }
  for (int d = static_cast<int>(axis) + 1; d < params.rank(); ++d) out_shape.push_back(params.dim(d));
  const int64_t per_batch = batch == 0 ? 0 : static_cast<int64_t>(idx.size()) / batch;
  *out = Tensor::allocate(params.dtype(), out_shape);
  int64_t dst = 0;
  for (int64_t b = 0; b < batch; ++b) {
    for (int64_t o = 0; o < outer; ++o) {
      const int64_t base = (b * outer + o) * n * inner;
      for (int64_t m = 0; m < per_batch; ++m) {
        copy_elements(params, base + idx[static_cast<size_t>(b * per_batch + m)] * inner, *out, dst, inner);
        dst += inner;
      }
    }
  }
  return Status::ok();
}

}  // namespace qtf
