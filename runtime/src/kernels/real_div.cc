// RealDiv: z = x / y with broadcasting. Real types only: integer division
// by zero would trap, and models divide floats.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct RealDivOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T a, T b) { return a / b; }
};

}  // namespace

using RealDivKernel = BinaryKernel<RealDivOp>;
QTF_REGISTER_KERNEL("RealDiv", RealDivKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("RealDiv"));

}  // namespace qtf
