// Softplus: activations = log(1 + exp(features)), computed without overflow.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SoftplusOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) {
    // Far from zero the result is x (or exp(x)) to working precision.
    if (x > T(20)) return x;
    if (x < T(-20)) return std::exp(x);
    return std::log1p(std::exp(x));
  }
};

}  // namespace

using SoftplusKernel = UnaryKernel<SoftplusOp>;
QTF_REGISTER_KERNEL("Softplus", SoftplusKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Softplus"));

}  // namespace qtf
