// GatherV2 (any axis, negative axes, batch_dims) and the older Gather
// (axis 0): slices of params picked by indices.
#include "core/kernel.h"
#include "kernels/gather.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

class GatherV2Kernel : public OpKernel {
 public:
  GatherV2Kernel(const NodeAttrs& attrs, Status*)
      : where_(attrs.where()), batch_dims_(attrs.int_or("batch_dims", 0)) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& params = ctx.input(0);
    const Tensor& indices = ctx.input(1);
    int64_t a = 0, axis = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(2), where_, "axis", &a));
    if (params.rank() == 0) return invalid_argument(where_ + "params must be at least 1-D");
    QTF_RETURN_IF_ERROR(canonical_axis(a, params.rank(), where_, &axis));
    int64_t batch_dims = batch_dims_;
    if (batch_dims < 0) batch_dims += indices.rank();
    if (batch_dims < 0) {
      return invalid_argument(where_ + "batch_dims " + std::to_string(batch_dims_) +
                              " is below -rank(indices)");
    }
    Tensor out;
    QTF_RETURN_IF_ERROR(gather_along_axis(params, indices, axis, batch_dims, where_, &out));
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  int64_t batch_dims_;
};

class GatherKernel : public OpKernel {
 public:
  GatherKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& params = ctx.input(0);
    if (params.rank() == 0) return invalid_argument(where_ + "params must be at least 1-D");
    Tensor out;
    QTF_RETURN_IF_ERROR(gather_along_axis(params, ctx.input(1), 0, 0, where_, &out));
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("GatherV2", GatherV2Kernel);
QTF_REGISTER_KERNEL("Gather", GatherKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "GatherV2"
  input_arg { name: "params" type_attr: "Tparams" }
  input_arg { name: "indices" type_attr: "Tindices" }
  input_arg { name: "axis" type_attr: "Taxis" }
  output_arg { name: "output" type_attr: "Tparams" }
  attr { name: "batch_dims" type: "int" default_value { i: 0 } }
  attr { name: "Tparams" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } }
  attr { name: "Taxis" type: "type"
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "Gather"
  input_arg { name: "params" type_attr: "Tparams" }
  input_arg { name: "indices" type_attr: "Tindices" }
  output_arg { name: "output" type_attr: "Tparams" }
  attr { name: "validate_indices" type: "bool" default_value { b: true } }
  attr { name: "Tparams" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
