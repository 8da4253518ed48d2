// Interpolation kernels of ScaleAndTranslate, evaluated in float as
// TensorFlow evaluates them.
#include "kernels/sampling_kernel.h"

#include <cmath>

namespace qtf {
namespace {

constexpr float kPi = 3.14159265359f;

float lanczos(float radius, float x) {
  if (x > radius) return 0.f;
  // sin(pi x) / (pi x) tends to 1; avoid 0/0 near the centre.
  if (x <= 1e-3f) return 1.f;
  return radius * std::sin(kPi * x) * std::sin(kPi * x / radius) / (kPi * kPi * x * x);
}

}  // namespace

bool parse_sampling_kernel(const std::string& name, SamplingKernelType* type) {
  static const struct {
    const char* name;
    SamplingKernelType type;
  } kNames[] = {
      {"lanczos1", SamplingKernelType::kLanczos1},   {"lanczos3", SamplingKernelType::kLanczos3},
      {"lanczos5", SamplingKernelType::kLanczos5},   {"gaussian", SamplingKernelType::kGaussian},
      {"box", SamplingKernelType::kBox},             {"triangle", SamplingKernelType::kTriangle},
      {"keyscubic", SamplingKernelType::kKeysCubic}, {"mitchellcubic", SamplingKernelType::kMitchellCubic},
  };
  for (const auto& n : kNames) {
    if (name == n.name) {
      *type = n.type;
      return true;
    }
  }
  return false;
}

float sampling_kernel_radius(SamplingKernelType type) {
  switch (type) {
    case SamplingKernelType::kLanczos1: return 1.f;
    case SamplingKernelType::kLanczos3: return 3.f;
    case SamplingKernelType::kLanczos5: return 5.f;
    case SamplingKernelType::kGaussian: return 1.5f;
    case SamplingKernelType::kBox: return 1.f;
    case SamplingKernelType::kTriangle: return 1.f;
    case SamplingKernelType::kKeysCubic: return 2.f;
    case SamplingKernelType::kMitchellCubic: return 2.f;
  }
  return 0.f;
}

float sampling_kernel_weight(SamplingKernelType type, float x) {
  x = std::fabs(x);
  switch (type) {
    case SamplingKernelType::kLanczos1: return lanczos(1.f, x);
    case SamplingKernelType::kLanczos3: return lanczos(3.f, x);
    case SamplingKernelType::kLanczos5: return lanczos(5.f, x);
    case SamplingKernelType::kGaussian: {
      // sigma = radius / 3 = 0.5, so exp(-x^2 / (2 sigma^2)) = exp(-2 x^2).
      if (x >= 1.5f) return 0.f;
      return std::exp(-2.f * x * x);
    }
    case SamplingKernelType::kBox:
      // Half weight exactly on the edge, so two boxes meeting there sum to one.
      if (x < 0.5f) return 1.f;
      return x == 0.5f ? 0.5f : 0.f;
    case SamplingKernelType::kTriangle: return x < 1.f ? 1.f - x : 0.f;
    case SamplingKernelType::kKeysCubic:
      // Cubic convolution with a = -0.5.
      if (x >= 2.f) return 0.f;
      if (x >= 1.f) return ((-0.5f * x + 2.5f) * x - 4.f) * x + 2.f;
      return (1.5f * x - 2.5f) * x * x + 1.f;
    case SamplingKernelType::kMitchellCubic:
      // Mitchell-Netravali with B = C = 1/3.
      if (x >= 2.f) return 0.f;
      if (x >= 1.f) return ((-7.f / 18.f * x + 2.f) * x - 10.f / 3.f) * x + 16.f / 9.f;
      return (7.f / 6.f * x - 2.f) * x * x + 8.f / 9.f;
  }
  return 0.f;
}

}  // namespace qtf
