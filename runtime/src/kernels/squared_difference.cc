// SquaredDifference: z = (x - y)^2 with broadcasting.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SquaredDifferenceOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T a, T b) {
    const T d = static_cast<T>(a - b);
    return static_cast<T>(d * d);
  }
};

}  // namespace

using SquaredDifferenceKernel = BinaryKernel<SquaredDifferenceOp>;
QTF_REGISTER_KERNEL("SquaredDifference", SquaredDifferenceKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("SquaredDifference") " is_commutative: true");

}  // namespace qtf
