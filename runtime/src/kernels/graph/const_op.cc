// Const: a value decoded once from the node's TensorProto and handed out on
// every run (shared, never written: consumers see it is not theirs alone).
#include "core/kernel.h"
#include "graph/tensor_proto.h"

namespace qtf {
namespace {

class ConstKernel : public OpKernel {
 public:
  ConstKernel(const NodeAttrs& attrs, Status* status) {
    const tensorflow::AttrValue* value = attrs.find("value");
    if (value == nullptr || value->value_case() != tensorflow::AttrValue::kTensor) {
      *status = invalid_argument(attrs.where() + "attr 'value' is missing or not a tensor");
      return;
    }
    *status = tensor_from_proto(value->tensor(), attrs.where(), &value_);
    if (!status->is_ok()) return;
    DataType dtype = value_.dtype();
    if (attrs.find("dtype") != nullptr) *status = attrs.get_type("dtype", &dtype);
    if (status->is_ok() && dtype != value_.dtype()) {
      *status = invalid_argument(attrs.where() + "value has type " + dtype_name(value_.dtype()) +
                                 " but dtype is " + dtype_name(dtype));
    }
  }

  Status compute(OpKernelContext& ctx) override {
    ctx.set_output(0, value_);
    return Status::ok();
  }

 private:
  Tensor value_;
};

}  // namespace

QTF_REGISTER_KERNEL("Const", ConstKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "Const"
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "value" type: "tensor" }
  attr { name: "dtype" type: "type" })pb");

}  // namespace qtf
