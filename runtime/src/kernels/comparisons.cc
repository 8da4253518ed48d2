// Greater, GreaterEqual, Less, LessEqual, Equal, NotEqual: z = (x op y) as
// bool, with broadcasting. One file because the six differ only in the
// operator. Equal and NotEqual also compare bool tensors.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct GreaterOp {
  static constexpr bool kFloatOnly = false;
  static bool apply(T a, T b) { return a > b; }
};
template <typename T>
struct GreaterEqualOp {
  static constexpr bool kFloatOnly = false;
  static bool apply(T a, T b) { return a >= b; }
};
template <typename T>
struct LessOp {
  static constexpr bool kFloatOnly = false;
  static bool apply(T a, T b) { return a < b; }
};
template <typename T>
struct LessEqualOp {
  static constexpr bool kFloatOnly = false;
  static bool apply(T a, T b) { return a <= b; }
};
template <typename T>
struct EqualOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kAllowsBool = true;
  static bool apply(T a, T b) { return a == b; }
};
template <typename T>
struct NotEqualOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kAllowsBool = true;
  static bool apply(T a, T b) { return a != b; }
};

// Equal and NotEqual with incompatible_shape_error = false answer shapes
// that do not broadcast with one scalar: "not equal".
template <template <typename> class Op, bool kNotEqual>
class EqualityKernel : public BinaryKernel<Op> {
 public:
  EqualityKernel(const NodeAttrs& attrs, Status* status)
      : BinaryKernel<Op>(attrs, status), strict_(attrs.bool_or("incompatible_shape_error", true)) {}

  Status compute(OpKernelContext& ctx) override {
    BroadcastPlan plan;
    if (!strict_ && !make_broadcast_plan(ctx.input(0).shape(), ctx.input(1).shape(), &plan).is_ok()) {
      *ctx.allocate_output(0, TF_BOOL, {}).data<bool>() = kNotEqual;
      return Status::ok();
    }
    return BinaryKernel<Op>::compute(ctx);
  }

 private:
  bool strict_;
};

}  // namespace

using GreaterKernel = BinaryKernel<GreaterOp>;
using GreaterEqualKernel = BinaryKernel<GreaterEqualOp>;
using LessKernel = BinaryKernel<LessOp>;
using LessEqualKernel = BinaryKernel<LessEqualOp>;
using EqualKernel = EqualityKernel<EqualOp, false>;
using NotEqualKernel = EqualityKernel<NotEqualOp, true>;
QTF_REGISTER_KERNEL("Greater", GreaterKernel);
QTF_REGISTER_KERNEL("GreaterEqual", GreaterEqualKernel);
QTF_REGISTER_KERNEL("Less", LessKernel);
QTF_REGISTER_KERNEL("LessEqual", LessEqualKernel);
QTF_REGISTER_KERNEL("Equal", EqualKernel);
QTF_REGISTER_KERNEL("NotEqual", NotEqualKernel);
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("Greater"));
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("GreaterEqual"));
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("Less"));
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("LessEqual"));
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("Equal")
                    " attr { name: \"incompatible_shape_error\" type: \"bool\""
                    " default_value { b: true } } is_commutative: true");
QTF_REGISTER_OP_DEF(QTF_COMPARE_OP_DEF("NotEqual")
                    " attr { name: \"incompatible_shape_error\" type: \"bool\""
                    " default_value { b: true } } is_commutative: true");

}  // namespace qtf
