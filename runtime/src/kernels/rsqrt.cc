// Rsqrt: y = 1 / sqrt(x).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct RsqrtOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return T(1) / std::sqrt(x); }
};

}  // namespace

using RsqrtKernel = UnaryKernel<RsqrtOp>;
QTF_REGISTER_KERNEL("Rsqrt", RsqrtKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Rsqrt"));

}  // namespace qtf
