// Elu: activations = features, or exp(features) - 1 below zero.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct EluOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return x > T(0) ? x : std::expm1(x); }
};

}  // namespace

using EluKernel = UnaryKernel<EluOp>;
QTF_REGISTER_KERNEL("Elu", EluKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Elu"));

}  // namespace qtf
