// ResourceGather: rows of a resource variable picked by indices (embedding
// lookups), with batch_dims as in GatherV2 along axis batch_dims.
#include "core/kernel.h"
#include "core/variable.h"
#include "kernels/gather.h"

namespace qtf {
namespace {

class ResourceGatherKernel : public OpKernel {
 public:
  ResourceGatherKernel(const NodeAttrs& attrs, Status* status)
      : where_(attrs.where()), batch_dims_(attrs.int_or("batch_dims", 0)) {
    *status = attrs.get_type("dtype", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& handle = ctx.input(0);
    if (handle.dtype() != TF_RESOURCE || !handle.variable()) {
      return invalid_argument(where_ + "input 0 is not a resource handle");
    }
    const Variable& variable = *handle.variable();
    if (!variable.initialized()) {
      return failed_precondition(where_ + "variable '" + variable.name +
                                 "' is read before it was initialized");
    }
    const Tensor& params = variable.value;
    if (params.dtype() != dtype_) {
      return invalid_argument(where_ + "variable '" + variable.name + "' holds " +
                              dtype_name(params.dtype()) + ", read as " + dtype_name(dtype_));
    }
    const Tensor& indices = ctx.input(1);
    int64_t batch_dims = batch_dims_ < 0 ? batch_dims_ + indices.rank() : batch_dims_;
    if (batch_dims < 0 || batch_dims >= params.rank()) {
      return invalid_argument(where_ + "batch_dims " + std::to_string(batch_dims_) +
                              " does not fit params " + shape_string(params.shape()) +
                              " and indices " + shape_string(indices.shape()));
    }
    Tensor out;
    QTF_RETURN_IF_ERROR(gather_along_axis(params, indices, batch_dims, batch_dims, where_, &out));
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  int64_t batch_dims_;
  DataType dtype_ = TF_FLOAT;
};

}  // namespace

QTF_REGISTER_KERNEL("ResourceGather", ResourceGatherKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ResourceGather"
  input_arg { name: "resource" type: DT_RESOURCE }
  input_arg { name: "indices" type_attr: "Tindices" }
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "batch_dims" type: "int" default_value { i: 0 } }
  attr { name: "validate_indices" type: "bool" default_value { b: true } }
  attr { name: "dtype" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  is_stateful: true)pb");

}  // namespace qtf
