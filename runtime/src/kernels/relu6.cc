// Relu6: activations = min(max(features, 0), 6).
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct Relu6Op {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) {
    const T r = x > T(0) ? x : T(0);
    return r < T(6) ? r : T(6);
  }
};

}  // namespace

using Relu6Kernel = UnaryKernel<Relu6Op>;
QTF_REGISTER_KERNEL("Relu6", Relu6Kernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Relu6"));

}  // namespace qtf
