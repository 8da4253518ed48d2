// Mapping between C++ element types and DataType, and a switch that calls a
// generic lambda with the C++ type of a runtime DataType.
#pragma once

#include <cstdint>

#include "core/tensor.h"

namespace qtf {

template <typename T>
struct TypeTag {
  using type = T;
};

template <typename T>
constexpr DataType dtype_of();
template <> constexpr DataType dtype_of<float>() { return TF_FLOAT; }
template <> constexpr DataType dtype_of<double>() { return TF_DOUBLE; }
template <> constexpr DataType dtype_of<int32_t>() { return TF_INT32; }
template <> constexpr DataType dtype_of<int64_t>() { return TF_INT64; }
template <> constexpr DataType dtype_of<uint8_t>() { return TF_UINT8; }
template <> constexpr DataType dtype_of<int8_t>() { return TF_INT8; }
template <> constexpr DataType dtype_of<int16_t>() { return TF_INT16; }
template <> constexpr DataType dtype_of<uint16_t>() { return TF_UINT16; }
template <> constexpr DataType dtype_of<bool>() { return TF_BOOL; }
template <> constexpr DataType dtype_of<uint32_t>() { return TF_UINT32; }
template <> constexpr DataType dtype_of<uint64_t>() { return TF_UINT64; }

// Calls f(TypeTag<T>{}) for the real and integer types kernels compute in;
// returns false (without calling f) for any other type.
template <typename F>
bool dispatch_numeric(DataType t, F&& f) {
  switch (t) {
    case TF_FLOAT: f(TypeTag<float>{}); return true;
    case TF_DOUBLE: f(TypeTag<double>{}); return true;
    case TF_INT32: f(TypeTag<int32_t>{}); return true;
    case TF_INT64: f(TypeTag<int64_t>{}); return true;
    case TF_UINT8: f(TypeTag<uint8_t>{}); return true;
    case TF_INT8: f(TypeTag<int8_t>{}); return true;
    case TF_INT16: f(TypeTag<int16_t>{}); return true;
    case TF_UINT16: f(TypeTag<uint16_t>{}); return true;
    default: return false;
  }
}

// Same plus bool, for ops that only move or convert values.
template <typename F>
bool dispatch_with_bool(DataType t, F&& f) {
  if (t == TF_BOOL) {
    f(TypeTag<bool>{});
    return true;
  }
  return dispatch_numeric(t, f);
}

}  // namespace qtf
