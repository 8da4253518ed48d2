// Inputs the random ops share: the output shape vector and the integer
// bounds of the uniform-int forms.
#pragma once

#include <string>

#include "core/kernel.h"

namespace qtf {

// The "shape" input as a non-negative shape.
Status read_random_shape(const std::string& where, const Tensor& shape, Shape* out);

// minval and maxval scalars of `dtype` (int32 or int64).
Status read_random_bounds(const std::string& where, const Tensor& minval, const Tensor& maxval,
                          DataType dtype, int64_t* lo, int64_t* hi);

}  // namespace qtf
