// Shape: output = the input's dimensions as int32 or int64.
#include <limits>

#include "core/kernel.h"

namespace qtf {
namespace {

class ShapeKernel : public OpKernel {
 public:
  ShapeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("out_type", &out_type_);
    if (status->is_ok() && out_type_ != TF_INT32 && out_type_ != TF_INT64) {
      *status = invalid_argument(where_ + "out_type must be int32 or int64");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Shape& s = ctx.input(0).shape();
    const int64_t rank = static_cast<int64_t>(s.size());
    Tensor& out = ctx.allocate_output(0, out_type_, {rank});
    for (int64_t i = 0; i < rank; ++i) {
      const int64_t d = s[static_cast<size_t>(i)];
      if (out_type_ == TF_INT64) {
        out.data<int64_t>()[i] = d;
      } else {
        if (d > std::numeric_limits<int32_t>::max()) {
          return invalid_argument(where_ + "dimension " + std::to_string(d) +
                                  " does not fit in int32");
        }
        out.data<int32_t>()[i] = static_cast<int32_t>(d);
      }
    }
    return Status::ok();
  }

 private:
  std::string where_;
  DataType out_type_ = TF_INT32;
};

}  // namespace

QTF_REGISTER_KERNEL("Shape", ShapeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Shape"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "out_type" }
  attr { name: "T" type: "type" }
  attr { name: "out_type" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
