// Log1p and Expm1: log(1 + x) and exp(x) - 1, accurate near zero.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct Log1pOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::log1p(x); }
};
template <typename T>
struct Expm1Op {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::expm1(x); }
};

}  // namespace

using Log1pKernel = UnaryKernel<Log1pOp>;
using Expm1Kernel = UnaryKernel<Expm1Op>;
QTF_REGISTER_KERNEL("Log1p", Log1pKernel);
QTF_REGISTER_KERNEL("Expm1", Expm1Kernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Log1p"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Expm1"));

}  // namespace qtf
