// SparseToDense: a tensor of output_shape filled with default_value, with
// sparse_values (one per index row, or one scalar for all) at
// sparse_indices ([N, R], [N] or a scalar). With validate_indices, rows
// must be in lexicographic order without repeats, as TensorFlow checks;
// a row outside the shape always fails the run.
#include <cstring>

#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/nd_index.h"

namespace qtf {
namespace {

class SparseToDenseKernel : public OpKernel {
 public:
  SparseToDenseKernel(const NodeAttrs& attrs, Status* status)
      : where_(attrs.where()), validate_(attrs.bool_or("validate_indices", true)) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok() && dtype_size(dtype_) == 0) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    std::vector<int64_t> shape;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "output_shape", &shape));
    for (int64_t d : shape) {
      if (d < 0) return invalid_argument(where_ + "output_shape " + shape_string(shape) + " is negative");
    }
    // Scalar and vector indices are rows of one coordinate (or of none).
    Tensor indices = ctx.input(0);
    if (indices.rank() == 0) indices = indices.reshaped({1, 1});
    else if (indices.rank() == 1) indices = indices.reshaped({indices.dim(0), 1});
    if (indices.rank() != 2 || indices.dim(1) != static_cast<int64_t>(shape.size())) {
      return invalid_argument(where_ + "sparse_indices " + shape_string(ctx.input(0).shape()) +
                              " do not match output_shape " + shape_string(shape));
    }
    const Tensor& values = ctx.input(2);
    const Tensor& fill = ctx.input(3);
    const int64_t n = indices.dim(0);
    if (values.dtype() != dtype_ || fill.dtype() != dtype_ || fill.num_elements() != 1 ||
        !(values.rank() == 0 || (values.rank() == 1 && values.dim(0) == n))) {
      return invalid_argument(where_ + "sparse_values must be a " + dtype_name(dtype_) +
                              " scalar or vector of " + std::to_string(n) +
                              " and default_value a scalar");
    }
    NdIndex nd;
    QTF_RETURN_IF_ERROR(resolve_nd_indices(indices, shape, where_, &nd));
    if (nd.first_bad >= 0) {
      return invalid_argument(where_ + nd_row_string(indices, nd.first_bad) +
                              " is out of bounds: need 0 <= index < " + shape_string(shape));
    }
    if (validate_) {
      for (int64_t r = 1; r < n; ++r) {
        const int64_t prev = nd.offsets[static_cast<size_t>(r - 1)];
        const int64_t here = nd.offsets[static_cast<size_t>(r)];
        if (here == prev) return invalid_argument(where_ + nd_row_string(indices, r) + " is repeated");
        if (here < prev) return invalid_argument(where_ + nd_row_string(indices, r) + " is out of order");
      }
    }
    Tensor& out = ctx.allocate_output(0, dtype_, shape);
    const size_t es = dtype_size(dtype_);
    char* y = static_cast<char*>(out.raw());
    for (int64_t i = 0; i < out.num_elements(); ++i) std::memcpy(y + static_cast<size_t>(i) * es, fill.raw(), es);
    const char* v = static_cast<const char*>(values.raw());
    for (int64_t r = 0; r < n; ++r) {
      const char* src = values.rank() == 0 ? v : v + static_cast<size_t>(r) * es;
      std::memcpy(y + static_cast<size_t>(nd.offsets[static_cast<size_t>(r)]) * es, src, es);
    }
    return Status::ok();
  }

 private:
  std::string where_;
  bool validate_;
  DataType dtype_ = TF_FLOAT;
};

}  // namespace

QTF_REGISTER_KERNEL("SparseToDense", SparseToDenseKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "SparseToDense"
  input_arg { name: "sparse_indices" type_attr: "Tindices" }
  input_arg { name: "output_shape" type_attr: "Tindices" }
  input_arg { name: "sparse_values" type_attr: "T" }
  input_arg { name: "default_value" type_attr: "T" }
  output_arg { name: "dense" type_attr: "T" }
  attr { name: "validate_indices" type: "bool" default_value { b: true } }
  attr { name: "T" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
