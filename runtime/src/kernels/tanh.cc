// Tanh: y = tanh(x).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct TanhOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::tanh(x); }
};

}  // namespace

using TanhKernel = UnaryKernel<TanhOp>;
QTF_REGISTER_KERNEL("Tanh", TanhKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Tanh"));

}  // namespace qtf
