// Minimum: z = min(x, y) with broadcasting; a NaN operand gives NaN.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct MinimumOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T a, T b) { return (a < b || a != a) ? a : b; }
};

}  // namespace

using MinimumKernel = BinaryKernel<MinimumOp>;
QTF_REGISTER_KERNEL("Minimum", MinimumKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Minimum"));

}  // namespace qtf
