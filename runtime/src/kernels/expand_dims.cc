// ExpandDims: inserts a size-1 dimension at `dim` (negative counts from the end).
#include "core/kernel.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

class ExpandDimsKernel : public OpKernel {
 public:
  ExpandDimsKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    int64_t dim = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "dim", &dim));
    int64_t axis = 0;
    QTF_RETURN_IF_ERROR(canonical_axis(dim, in.rank() + 1, where_, &axis));
    Shape out = in.shape();
    out.insert(out.begin() + axis, 1);
    ctx.set_output(0, in.reshaped(out));
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("ExpandDims", ExpandDimsKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ExpandDims"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "dim" type_attr: "Tdim" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tdim" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
