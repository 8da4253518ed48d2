// Fill: a tensor of shape `dims` with every element equal to `value`.
#include <cstring>

#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class FillKernel : public OpKernel {
 public:
  FillKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    std::vector<int64_t> dims;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(0), where_, "dims", &dims));
    const Tensor& value = ctx.input(1);
    if (value.rank() != 0 || value.dtype() != dtype_ || !is_movable_dtype(dtype_)) {
      return invalid_argument(where_ + "value must be a " + dtype_name(dtype_) +
                              " scalar, got " + dtype_name(value.dtype()) +
                              shape_string(value.shape()));
    }
    for (int64_t d : dims) {
      if (d < 0) return invalid_argument(where_ + "dims " + shape_string(dims) + " are negative");
    }
    Tensor& out = ctx.allocate_output(0, dtype_, dims);
    const int64_t n = out.num_elements();
    if (dtype_ == TF_STRING) {
      for (auto& s : out.mutable_string_values()) s = value.string_values()[0];
      return Status::ok();
    }
    const size_t es = dtype_size(dtype_);
    char* dst = static_cast<char*>(out.raw());
    for (int64_t i = 0; i < n; ++i) std::memcpy(dst + static_cast<size_t>(i) * es, value.raw(), es);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

}  // namespace

QTF_REGISTER_KERNEL("Fill", FillKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Fill"
  input_arg { name: "dims" type_attr: "index_type" }
  input_arg { name: "value" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "index_type" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
