// Erf and Erfc, the Gauss error function and its complement (exact GELU
// exports compute 0.5 * x * (1 + erf(x / sqrt(2)))).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct ErfOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::erf(x); }
};
template <typename T>
struct ErfcOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::erfc(x); }
};

}  // namespace

using ErfKernel = UnaryKernel<ErfOp>;
using ErfcKernel = UnaryKernel<ErfcOp>;
QTF_REGISTER_KERNEL("Erf", ErfKernel);
QTF_REGISTER_KERNEL("Erfc", ErfcKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Erf"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Erfc"));

}  // namespace qtf
