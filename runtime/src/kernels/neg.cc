// Neg: y = -x.
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct NegOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) { return static_cast<T>(-x); }
};

}  // namespace

using NegKernel = UnaryKernel<NegOp>;
QTF_REGISTER_KERNEL("Neg", NegKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Neg"));

}  // namespace qtf
