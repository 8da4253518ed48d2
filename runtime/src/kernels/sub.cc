// Sub: z = x - y with broadcasting.
#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SubOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T a, T b) { return static_cast<T>(a - b); }
};

}  // namespace

using SubKernel = BinaryKernel<SubOp>;
QTF_REGISTER_KERNEL("Sub", SubKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Sub"));

}  // namespace qtf
