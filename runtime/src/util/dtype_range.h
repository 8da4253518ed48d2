// Data type numbers arrive from files as plain integers. Only values the
// TF_DataType enum can hold may be turned into one; anything else is corrupt
// input to be reported, not cast.
#pragma once

#include <cstdint>
#include <string>

#include "core/status.h"
#include "tensorflow/c/c_api.h"

namespace qtf {

// The enum's declared values end at 25, so it can represent 0..31.
inline bool dtype_in_range(int64_t value) { return value >= 0 && value <= 31; }

// The type a stored number stands for, or INVALID_ARGUMENT
// "<where>invalid data type <value>".
inline Status checked_dtype(int64_t value, const std::string& where, TF_DataType* out) {
  if (!dtype_in_range(value)) return invalid_argument(where + "invalid data type " + std::to_string(value));
  *out = static_cast<TF_DataType>(value);
  return Status::ok();
}

}  // namespace qtf
