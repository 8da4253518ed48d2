// Sign: -1, 0 or 1 by the sign of x; NaN stays NaN.
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SignOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) {
    if (x > T(0)) return T(1);
    if (x < T(0)) return static_cast<T>(-1);
    return x;  // zero, or NaN
  }
};

}  // namespace

using SignKernel = UnaryKernel<SignOp>;
QTF_REGISTER_KERNEL("Sign", SignKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sign"));

}  // namespace qtf
