// Round: nearest integer, halves to even (TensorFlow's banker's rounding);
// integers pass through.
#include <cmath>
#include <type_traits>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct RoundOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) {
    if constexpr (std::is_floating_point<T>::value) {
      // Default rounding mode of the FPU is round-half-to-even.
      return std::nearbyint(x);
    } else {
      return x;
    }
  }
};

}  // namespace

using RoundKernel = UnaryKernel<RoundOp>;
QTF_REGISTER_KERNEL("Round", RoundKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Round"));

}  // namespace qtf
