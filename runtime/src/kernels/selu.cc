// Selu: scale * x above zero, scale * alpha * (exp(x) - 1) below, with the
// self-normalising constants of Klambauer et al. (2017).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SeluOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) {
    const T scale = static_cast<T>(1.0507009873554804934193349852946);
    const T scale_alpha = static_cast<T>(1.7580993408473768599402175208123);
    return x > T(0) ? scale * x : scale_alpha * std::expm1(x);
  }
};

}  // namespace

using SeluKernel = UnaryKernel<SeluOp>;
QTF_REGISTER_KERNEL("Selu", SeluKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Selu"));

}  // namespace qtf
