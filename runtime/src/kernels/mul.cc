// Mul: z = x * y with broadcasting.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct MulOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T a, T b) { return static_cast<T>(a * b); }
};

}  // namespace

using MulKernel = BinaryKernel<MulOp>;
QTF_REGISTER_KERNEL("Mul", MulKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Mul") " is_commutative: true");

}  // namespace qtf
