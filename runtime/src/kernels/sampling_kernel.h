// The interpolation kernels ScaleAndTranslate samples with: a weight as a
// function of the distance (in source pixels) from the sample point, zero
// beyond the kernel's radius.
#pragma once

#include <string>

namespace qtf {

enum class SamplingKernelType {
  kLanczos1,
  kLanczos3,
  kLanczos5,
  kGaussian,
  kBox,
  kTriangle,
  kKeysCubic,
  kMitchellCubic,
};

// Parses a kernel_type attr value ("lanczos3", "keyscubic", ...); false when
// the name is unknown.
bool parse_sampling_kernel(const std::string& name, SamplingKernelType* type);

// Distance beyond which the kernel is zero.
float sampling_kernel_radius(SamplingKernelType type);

// Weight at distance `x` (either sign).
float sampling_kernel_weight(SamplingKernelType type, float x);

}  // namespace qtf
