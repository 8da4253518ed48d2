// Abs: |x|. The lowest signed integer maps to itself (two's-complement
// wrap-around, as in TensorFlow) instead of overflowing.
#include <cmath>
#include <type_traits>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct AbsOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T x) {
    if constexpr (std::is_floating_point<T>::value) {
      return std::fabs(x);
    } else if constexpr (std::is_signed<T>::value) {
      using U = typename std::make_unsigned<T>::type;
      return x < 0 ? static_cast<T>(static_cast<U>(0) - static_cast<U>(x)) : x;
    } else {
      return x;
    }
  }
};

}  // namespace

using AbsKernel = UnaryKernel<AbsOp>;
QTF_REGISTER_KERNEL("Abs", AbsKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Abs"));

}  // namespace qtf
