// Square: y = x * x.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SquareOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) { return static_cast<T>(x * x); }
};

}  // namespace

using SquareKernel = UnaryKernel<SquareOp>;
QTF_REGISTER_KERNEL("Square", SquareKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Square"));

}  // namespace qtf
