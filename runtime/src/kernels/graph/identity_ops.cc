// Identity, IdentityN and NoOp: pass values through unchanged (sharing their
// buffers), or do nothing but order other nodes through control inputs. The
// ops that only matter to gradients or to graph rewriting (StopGradient,
// PreventGradient, Snapshot) are identities too, and EnsureShape is one that
// checks the shape first.
#include "core/kernel.h"
#include "graph/tensor_proto.h"

namespace qtf {
namespace {

class IdentityKernel : public OpKernel {
 public:
  IdentityKernel(const NodeAttrs&, Status*) {}
  Status compute(OpKernelContext& ctx) override {
    for (int i = 0; i < ctx.num_inputs() && i < ctx.num_outputs(); ++i) ctx.set_output(i, ctx.input(i));
    return Status::ok();
  }
};

class EnsureShapeKernel : public OpKernel {
 public:
  EnsureShapeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    const tensorflow::AttrValue* shape = attrs.find("shape");
    if (shape == nullptr || shape->value_case() != tensorflow::AttrValue::kShape) {
      *status = invalid_argument(where_ + "attr 'shape' is missing");
      return;
    }
    expected_ = partial_shape_from_proto(shape->shape());
  }
  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (!expected_.is_compatible_with(x.shape())) {
      return invalid_argument(where_ + "Shape of tensor " + shape_string(x.shape()) +
                              " is not compatible with expected shape " + expected_.to_string() + ".");
    }
    ctx.set_output(0, x);
    return Status::ok();
  }

 private:
  std::string where_;
  PartialShape expected_;
};

class NoOpKernel : public OpKernel {
 public:
  NoOpKernel(const NodeAttrs&, Status*) {}
  Status compute(OpKernelContext&) override { return Status::ok(); }
};

}  // namespace

QTF_REGISTER_KERNEL("Identity", IdentityKernel);
QTF_REGISTER_KERNEL("IdentityN", IdentityKernel);
QTF_REGISTER_KERNEL("NoOp", NoOpKernel);
QTF_REGISTER_KERNEL("StopGradient", IdentityKernel);
QTF_REGISTER_KERNEL("PreventGradient", IdentityKernel);
QTF_REGISTER_KERNEL("Snapshot", IdentityKernel);
QTF_REGISTER_KERNEL("EnsureShape", EnsureShapeKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "Identity"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "IdentityN"
  input_arg { name: "input" type_list_attr: "T" }
  output_arg { name: "output" type_list_attr: "T" }
  attr { name: "T" type: "list(type)" has_minimum: true minimum: 1 })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "NoOp")pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "StopGradient"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "PreventGradient"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "message" type: "string" default_value { s: "" } })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "Snapshot"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "EnsureShape"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "shape" type: "shape" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
