#include "kernels/control/truth.h"

#include <cstdint>

namespace qtf {
namespace {

template <typename T>
bool nonzero(const Tensor& t) {
  return *t.data<T>() != T(0);
}

}  // namespace

Status tensor_truth(const Tensor& t, bool* out) {
  if (t.rank() != 0) {
    *out = t.num_elements() > 0;
    return Status::ok();
  }
  switch (t.dtype()) {
    case TF_FLOAT: *out = nonzero<float>(t); break;
    case TF_DOUBLE: *out = nonzero<double>(t); break;
    case TF_INT32: *out = nonzero<int32_t>(t); break;
    case TF_UINT8: *out = nonzero<uint8_t>(t); break;
    case TF_INT16: *out = nonzero<int16_t>(t); break;
    case TF_INT8: *out = nonzero<int8_t>(t); break;
    case TF_INT64: *out = nonzero<int64_t>(t); break;
    case TF_BOOL: *out = *t.data<uint8_t>() != 0; break;
    case TF_STRING: *out = !t.string_values()[0].empty(); break;
    default:
      return invalid_argument(std::string(dtype_name(t.dtype())) + " cannot be converted to a boolean");
  }
  return Status::ok();
}

}  // namespace qtf
