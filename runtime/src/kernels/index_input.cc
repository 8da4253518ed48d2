// Index input readers.
#include "kernels/index_input.h"

namespace qtf {

Status read_index_vector(const Tensor& t, const std::string& where, const char* what,
                         std::vector<int64_t>* out) {
  if (t.rank() > 1) {
    return invalid_argument(where + std::string(what) + " must be a vector, got shape " +
                            shape_string(t.shape()));
  }
  const int64_t n = t.num_elements();
  out->resize(static_cast<size_t>(n));
  if (t.dtype() == TF_INT32) {
    for (int64_t i = 0; i < n; ++i) (*out)[static_cast<size_t>(i)] = t.data<int32_t>()[i];
  } else if (t.dtype() == TF_INT64) {
    for (int64_t i = 0; i < n; ++i) (*out)[static_cast<size_t>(i)] = t.data<int64_t>()[i];
  } else {
    return invalid_argument(where + std::string(what) + " must be int32 or int64, got " +
                            dtype_name(t.dtype()));
  }
  return Status::ok();
}

Status read_index_scalar(const Tensor& t, const std::string& where, const char* what,
                         int64_t* out) {
  std::vector<int64_t> v;
  QTF_RETURN_IF_ERROR(read_index_vector(t, where, what, &v));
  if (v.size() != 1) {
    return invalid_argument(where + std::string(what) + " must hold one value, got shape " +
                            shape_string(t.shape()));
  }
  *out = v[0];
  return Status::ok();
}

Status canonical_axis(int64_t axis, int rank, const std::string& where, int64_t* out) {
  if (axis < -rank || axis >= rank) {
    return invalid_argument(where + "axis " + std::to_string(axis) + " is out of range for rank " +
                            std::to_string(rank));
  }
  *out = axis < 0 ? axis + rank : axis;
  return Status::ok();
}

Status read_index_tensor(const Tensor& t, const std::string& where, const char* what,
                         std::vector<int64_t>* out) {
  return read_index_vector(t.reshaped({t.num_elements()}), where, what, out);
}

}  // namespace qtf
