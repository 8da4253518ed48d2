// TensorFlow's truth of a predicate tensor (If's cond, While's condition
// result): a scalar is its value (non-zero numbers, non-empty strings); any
// other tensor is true when it has elements.
#pragma once

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

Status tensor_truth(const Tensor& t, bool* out);

}  // namespace qtf
