// Relu: activations = max(features, 0).
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct ReluOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) { return x > T(0) ? x : T(0); }
};

}  // namespace

using ReluKernel = UnaryKernel<ReluOp>;
QTF_REGISTER_KERNEL("Relu", ReluKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Relu"));

}  // namespace qtf
