// Sqrt: y = sqrt(x) (NaN below zero).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SqrtOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::sqrt(x); }
};

}  // namespace

using SqrtKernel = UnaryKernel<SqrtOp>;
QTF_REGISTER_KERNEL("Sqrt", SqrtKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sqrt"));

}  // namespace qtf
