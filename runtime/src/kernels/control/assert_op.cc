// Assert: a false condition fails the run with INVALID_ARGUMENT, the message
// carrying the first `summarize` elements of each data tensor.
#include "core/kernel.h"
#include "kernels/control/value_summary.h"

namespace qtf {
namespace {

class AssertKernel : public OpKernel {
 public:
  AssertKernel(const NodeAttrs& attrs, Status*) : summarize_(attrs.int_or("summarize", 3)) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& cond = ctx.input(0);
    // TensorFlow takes a one-element vector as a scalar here too.
    const bool scalar = cond.rank() == 0 || (cond.rank() == 1 && cond.dim(0) == 1);
    if (!scalar) {
      return invalid_argument("In[0] should be a scalar: " + shape_string(cond.shape()));
    }
    if (*cond.data<uint8_t>() != 0) return Status::ok();
    std::string message = "assertion failed: ";
    for (int i = 1; i < ctx.num_inputs(); ++i) {
      message += "[" + summarize_value(ctx.input(i), summarize_) + "]";
      if (i + 1 < ctx.num_inputs()) message += ' ';
    }
    return invalid_argument(message);
  }

 private:
  int64_t summarize_;
};

}  // namespace

QTF_REGISTER_KERNEL("Assert", AssertKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "Assert"
  input_arg { name: "condition" type: DT_BOOL }
  input_arg { name: "data" type_list_attr: "T" }
  attr { name: "T" type: "list(type)" has_minimum: true minimum: 1 }
  attr { name: "summarize" type: "int" default_value { i: 3 } }
  is_stateful: true)pb");

}  // namespace qtf
