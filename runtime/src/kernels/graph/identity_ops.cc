// Identity, IdentityN and NoOp: pass values through unchanged (sharing their
// buffers), or do nothing but order other nodes through control inputs.
#include "core/kernel.h"

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

class NoOpKernel : public OpKernel {
 public:
  NoOpKernel(const NodeAttrs&, Status*) {}
  Status compute(OpKernelContext&) override { return Status::ok(); }
};

}  // namespace

QTF_REGISTER_KERNEL("Identity", IdentityKernel);
QTF_REGISTER_KERNEL("IdentityN", IdentityKernel);
QTF_REGISTER_KERNEL("NoOp", NoOpKernel);

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

}  // namespace qtf
