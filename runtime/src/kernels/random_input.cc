// Random op inputs.
#include "kernels/random_input.h"

#include "kernels/index_input.h"

namespace qtf {

Status read_random_shape(const std::string& where, const Tensor& shape, Shape* out) {
  QTF_RETURN_IF_ERROR(read_index_vector(shape, where, "shape", out));
  for (int64_t d : *out) {
    if (d < 0) return invalid_argument(where + "shape " + shape_string(*out) + " is negative");
  }
  return Status::ok();
}

Status read_random_bounds(const std::string& where, const Tensor& minval, const Tensor& maxval,
                          DataType dtype, int64_t* lo, int64_t* hi) {
  if (minval.dtype() != dtype || maxval.dtype() != dtype || minval.rank() != 0 ||
      maxval.rank() != 0) {
    return invalid_argument(where + "minval and maxval must be " + dtype_name(dtype) +
                            " scalars, got " + shape_string(minval.shape()) + " and " +
                            shape_string(maxval.shape()));
  }
  QTF_RETURN_IF_ERROR(read_index_scalar(minval, where, "minval", lo));
  return read_index_scalar(maxval, where, "maxval", hi);
}

}  // namespace qtf
