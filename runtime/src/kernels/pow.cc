// Pow: z = x ^ y with broadcasting. Real types only: TensorFlow rejects
// negative integer exponents at run time, which a functor cannot report.
#include <cmath>

#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct PowOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T a, T b) { return static_cast<T>(std::pow(a, b)); }
};

}  // namespace

using PowKernel = BinaryKernel<PowOp>;
QTF_REGISTER_KERNEL("Pow", PowKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Pow"));

}  // namespace qtf
