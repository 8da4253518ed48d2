// Index row resolution for the N-d gathers and scatters.
#include "kernels/nd_index.h"

#include "kernels/index_input.h"

namespace qtf {

Status resolve_nd_indices(const Tensor& indices, const Shape& shape, const std::string& where,
                          NdIndex* out) {
  if (indices.rank() < 1) {
    return invalid_argument(where + "indices must be at least 1-D, got " + shape_string(indices.shape()));
  }
  const int64_t k = indices.dim(indices.rank() - 1);
  if (k > static_cast<int64_t>(shape.size())) {
    return invalid_argument(where + "index depth " + std::to_string(k) + " of indices " +
                            shape_string(indices.shape()) + " exceeds the rank of " + shape_string(shape));
  }
  std::vector<int64_t> idx;
  QTF_RETURN_IF_ERROR(read_index_tensor(indices, where, "indices", &idx));
  out->slice = 1;
  for (size_t d = static_cast<size_t>(k); d < shape.size(); ++d) out->slice *= shape[d];
  out->rows = num_elements(Shape(indices.shape().begin(), indices.shape().end() - 1));
  out->offsets.assign(static_cast<size_t>(out->rows), 0);
  out->first_bad = -1;
  for (int64_t r = 0; r < out->rows; ++r) {
    int64_t offset = 0;
    for (int64_t j = 0; j < k; ++j) {
      const int64_t v = idx[static_cast<size_t>(r * k + j)];
      const int64_t n = shape[static_cast<size_t>(j)];
      if (v < 0 || v >= n) {
        offset = -1;
        break;
      }
      offset = offset * n + v;
    }
    if (offset >= 0) offset *= out->slice;
    else if (out->first_bad < 0) out->first_bad = r;
    out->offsets[static_cast<size_t>(r)] = offset;
  }
  return Status::ok();
}

std::string nd_row_string(const Tensor& indices, int64_t row) {
  const int64_t k = indices.dim(indices.rank() - 1);
  std::vector<int64_t> idx;
  std::string values;
  if (read_index_tensor(indices, "", "", &idx).is_ok()) {
    for (int64_t j = 0; j < k; ++j) {
      if (j > 0) values += ", ";
      values += std::to_string(idx[static_cast<size_t>(row * k + j)]);
    }
  }
  return "indices[" + std::to_string(row) + "] = [" + values + "]";
}

Status parse_bad_indices_policy(const std::string& text, const std::string& where, bool* ignore) {
  if (text.empty() || text == "DEFAULT" || text == "ERROR") {
    *ignore = false;
  } else if (text == "IGNORE") {
    *ignore = true;
  } else {
    return invalid_argument(where + "unknown bad_indices_policy '" + text + "'");
  }
  return Status::ok();
}

}  // namespace qtf
