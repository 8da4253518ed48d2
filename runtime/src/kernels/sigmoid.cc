// Sigmoid: y = 1 / (1 + exp(-x)).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SigmoidOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return T(1) / (T(1) + std::exp(-x)); }
};

}  // namespace

using SigmoidKernel = UnaryKernel<SigmoidOp>;
QTF_REGISTER_KERNEL("Sigmoid", SigmoidKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sigmoid"));

}  // namespace qtf
