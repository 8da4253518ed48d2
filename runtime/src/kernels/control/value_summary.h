// The text TensorFlow's Assert puts in its message for each data tensor: the
// first `max_entries` elements, nested in brackets by dimension, "..." when
// some are left out.
#pragma once

#include <cstdint>
#include <string>

#include "core/tensor.h"

namespace qtf {

std::string summarize_value(const Tensor& t, int64_t max_entries);

}  // namespace qtf
