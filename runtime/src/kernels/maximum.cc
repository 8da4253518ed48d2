// Maximum: z = max(x, y) with broadcasting; a NaN operand gives NaN.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct MaximumOp {
  static constexpr bool kFloatOnly = false;
  // a != a is true only for NaN, which then wins.
  static T apply(T a, T b) { return (a > b || a != a) ? a : b; }
};

}  // namespace

using MaximumKernel = BinaryKernel<MaximumOp>;
QTF_REGISTER_KERNEL("Maximum", MaximumKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Maximum"));

}  // namespace qtf
