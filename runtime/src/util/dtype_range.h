// Data type numbers arrive from files as plain integers. Only values the
// TF_DataType enum can hold may be turned into one; anything else is corrupt
// input to be reported, not cast.
#pragma once

#include <cstdint>

#include "tensorflow/c/c_api.h"

namespace qtf {

// The enum's declared values end at 25, so it can represent 0..31.
inline bool dtype_in_range(int64_t value) { return value >= 0 && value <= 31; }

inline TF_DataType to_dtype(int64_t value) { return static_cast<TF_DataType>(value); }

}  // namespace qtf
