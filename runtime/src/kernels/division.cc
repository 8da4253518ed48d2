// Div, TruncateDiv, FloorDiv, DivNoNan, Mod, TruncateMod and FloorMod, with
// broadcasting. One file because they share the rounding rules:
//   * integers: Div and TruncateDiv round toward zero, FloorDiv toward -inf;
//     Mod and TruncateMod take the sign of x, FloorMod that of y. A zero y
//     fails the run (BinaryKernel checks it); y = -1 is handled apart so the
//     lowest value divided by -1 wraps like TensorFlow instead of trapping.
//   * reals: Div is x / y, TruncateDiv trunc(x / y), FloorDiv floor(x / y),
//     Mod and TruncateMod fmod, FloorMod fmod moved to y's sign.
#include <cmath>
#include <type_traits>

#include "kernels/cwise_binary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

// -a with two's-complement wrap-around.
template <typename T>
T wrapping_negate(T a) {
  using U = typename std::make_unsigned<T>::type;
  return static_cast<T>(static_cast<U>(0) - static_cast<U>(a));
}

template <typename T>
T truncated_quotient(T a, T b) {
  if constexpr (std::is_floating_point<T>::value) {
    return std::trunc(a / b);
  } else if constexpr (std::is_signed<T>::value) {
    return b == T(-1) ? wrapping_negate(a) : static_cast<T>(a / b);
  } else {
    return static_cast<T>(a / b);
  }
}

template <typename T>
T floored_quotient(T a, T b) {
  if constexpr (std::is_floating_point<T>::value) {
    return std::floor(a / b);
  } else if constexpr (std::is_signed<T>::value) {
    if (b == T(-1)) return wrapping_negate(a);
    const T q = static_cast<T>(a / b);
    return (a % b != 0 && ((a < 0) != (b < 0))) ? static_cast<T>(q - 1) : q;
  } else {
    return static_cast<T>(a / b);
  }
}

template <typename T>
T truncated_remainder(T a, T b) {
  if constexpr (std::is_floating_point<T>::value) {
    return std::fmod(a, b);
  } else if constexpr (std::is_signed<T>::value) {
    return b == T(-1) ? T(0) : static_cast<T>(a % b);
  } else {
    return static_cast<T>(a % b);
  }
}

template <typename T>
T floored_remainder(T a, T b) {
  const T r = truncated_remainder(a, b);
  if constexpr (std::is_unsigned<T>::value) {
    return r;
  } else {
    return (r != 0 && ((r < 0) != (b < 0))) ? static_cast<T>(r + b) : r;
  }
}

template <typename T>
struct DivOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kIntegerDivision = true;
  static T apply(T a, T b) {
    if constexpr (std::is_floating_point<T>::value) return a / b;
    else return truncated_quotient(a, b);
  }
};
template <typename T>
struct TruncateDivOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kIntegerDivision = true;
  static T apply(T a, T b) { return truncated_quotient(a, b); }
};
template <typename T>
struct FloorDivOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kIntegerDivision = true;
  static T apply(T a, T b) { return floored_quotient(a, b); }
};
template <typename T>
struct DivNoNanOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T a, T b) { return b == T(0) ? T(0) : static_cast<T>(a / b); }
};
template <typename T>
struct ModOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kIntegerDivision = true;
  static T apply(T a, T b) { return truncated_remainder(a, b); }
};
template <typename T>
struct FloorModOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kIntegerDivision = true;
  static T apply(T a, T b) { return floored_remainder(a, b); }
};

}  // namespace

using DivKernel = BinaryKernel<DivOp>;
using TruncateDivKernel = BinaryKernel<TruncateDivOp>;
using FloorDivKernel = BinaryKernel<FloorDivOp>;
using DivNoNanKernel = BinaryKernel<DivNoNanOp>;
using ModKernel = BinaryKernel<ModOp>;
using FloorModKernel = BinaryKernel<FloorModOp>;
QTF_REGISTER_KERNEL("Div", DivKernel);
QTF_REGISTER_KERNEL("TruncateDiv", TruncateDivKernel);
QTF_REGISTER_KERNEL("FloorDiv", FloorDivKernel);
QTF_REGISTER_KERNEL("DivNoNan", DivNoNanKernel);
QTF_REGISTER_KERNEL("Mod", ModKernel);
QTF_REGISTER_KERNEL("TruncateMod", ModKernel);
QTF_REGISTER_KERNEL("FloorMod", FloorModKernel);
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Div"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("TruncateDiv"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("FloorDiv"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("DivNoNan"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("Mod"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("TruncateMod"));
QTF_REGISTER_OP_DEF(QTF_BINARY_OP_DEF("FloorMod"));

}  // namespace qtf
