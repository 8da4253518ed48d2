// Exp: y = e^x.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct ExpOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::exp(x); }
};

}  // namespace

using ExpKernel = UnaryKernel<ExpOp>;
QTF_REGISTER_KERNEL("Exp", ExpKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Exp"));

}  // namespace qtf
