// Filling a tensor from a Philox generator the way TensorFlow's random ops
// do, so a given generator state gives TensorFlow's values: element group g
// (4 floats, 2 doubles, 4 int32, 2 int64) comes from the draw at counter
// offset g; a truncated normal group of 2 from its own stretch of 128
// draws, consumed one word at a time until both values fall inside two
// standard deviations.
#pragma once

#include <cstdint>
#include <string>

#include "core/status.h"
#include "core/tensor.h"
#include "kernels/philox.h"

namespace qtf {

enum class RandomDistribution { kUniform, kNormal, kTruncatedNormal, kUniformInt };

// `out` is float or double (int32 or int64 for kUniformInt, with values in
// [lo, hi)); other dtypes are refused.
Status fill_random(const std::string& where, RandomDistribution dist, const Philox& base,
                   int64_t lo, int64_t hi, Tensor& out);

// True when fill_random supports `dtype` for `dist`.
bool random_dtype_supported(RandomDistribution dist, DataType dtype);

// Draws a TensorFlow stateful op's generator reserves per output element,
// so each run continues where the previous one's stretch ended.
constexpr uint64_t kStatefulDrawsPerElement = 256;

}  // namespace qtf
