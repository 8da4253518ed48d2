// Optional flags of the element-wise op functors used by BinaryKernel and
// UnaryKernel. An op declares only the flags it needs; an absent flag reads
// as false, so existing ops keep their meaning.
//
//   kAllowsBool       bool inputs are accepted too (Equal, NotEqual)
//   kBoolOnly         bool inputs only and no "T" attr (LogicalAnd, LogicalNot)
//   kIntegerDivision  integer y must not hold a zero (FloorDiv, Mod, ...)
//   kFloatAttr        name of a float attr passed to apply(x, value) (LeakyRelu's alpha)
#pragma once

#include <type_traits>

namespace qtf {

template <template <typename> class Op, typename = void>
struct AllowsBool : std::false_type {};
template <template <typename> class Op>
struct AllowsBool<Op, std::void_t<decltype(Op<float>::kAllowsBool)>>
    : std::integral_constant<bool, Op<float>::kAllowsBool> {};

template <template <typename> class Op, typename = void>
struct BoolOnly : std::false_type {};
template <template <typename> class Op>
struct BoolOnly<Op, std::void_t<decltype(Op<float>::kBoolOnly)>>
    : std::integral_constant<bool, Op<float>::kBoolOnly> {};

template <template <typename> class Op, typename = void>
struct IntegerDivision : std::false_type {};
template <template <typename> class Op>
struct IntegerDivision<Op, std::void_t<decltype(Op<float>::kIntegerDivision)>>
    : std::integral_constant<bool, Op<float>::kIntegerDivision> {};

template <template <typename> class Op, typename = void>
struct HasFloatAttr : std::false_type {};
template <template <typename> class Op>
struct HasFloatAttr<Op, std::void_t<decltype(Op<float>::kFloatAttr)>> : std::true_type {};

// Whether Op<T> may run: real types unless kFloatOnly forbids integers, and
// bool only for ops that allow it.
template <template <typename> class Op, typename T>
constexpr bool op_accepts() {
  if constexpr (std::is_same<T, bool>::value) {
    return AllowsBool<Op>::value || BoolOnly<Op>::value;
  } else {
    return !BoolOnly<Op>::value && !(Op<float>::kFloatOnly && std::is_integral<T>::value);
  }
}

}  // namespace qtf
