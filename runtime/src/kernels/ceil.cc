// Ceil: smallest integer not below x.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct CeilOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::ceil(x); }
};

}  // namespace

using CeilKernel = UnaryKernel<CeilOp>;
QTF_REGISTER_KERNEL("Ceil", CeilKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Ceil"));

}  // namespace qtf
