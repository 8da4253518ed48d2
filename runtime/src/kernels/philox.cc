// Philox4x32-10 and the Box-Muller transform as TensorFlow applies them.
#include "kernels/philox.h"

#include <cmath>

namespace qtf {
namespace {

constexpr uint32_t kMultiplier0 = 0xD2511F53;
constexpr uint32_t kMultiplier1 = 0xCD9E8D57;
constexpr uint32_t kKeyStep0 = 0x9E3779B9;
constexpr uint32_t kKeyStep1 = 0xBB67AE85;
// TensorFlow's fixed key for scrambling stateless seeds.
constexpr Philox::Key kSeedScrambleKey{0x3ec8f720, 0x02461e29};

constexpr double kTwoPi = 6.283185307179586476925286766559;

}  // namespace

Philox Philox::from_seeds(uint64_t seed, uint64_t seed2) {
  return Philox({static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)},
                {0, 0, static_cast<uint32_t>(seed2), static_cast<uint32_t>(seed2 >> 32)});
}

Philox Philox::from_stateless_seed(uint64_t seed0, uint64_t seed1) {
  const Block mix = encipher({static_cast<uint32_t>(seed0), static_cast<uint32_t>(seed0 >> 32),
                              static_cast<uint32_t>(seed1), static_cast<uint32_t>(seed1 >> 32)},
                             kSeedScrambleKey);
  return Philox({mix[0], mix[1]}, {0, 0, mix[2], mix[3]});
}

void Philox::skip(uint64_t n) {
  const uint32_t lo = static_cast<uint32_t>(n);
  uint32_t hi = static_cast<uint32_t>(n >> 32);
  counter_[0] += lo;
  if (counter_[0] < lo) ++hi;
  counter_[1] += hi;
  if (counter_[1] < hi && ++counter_[2] == 0) ++counter_[3];
}

Philox::Block Philox::encipher(Counter c, Key k) {
  for (int round = 0; round < 10; ++round) {
    const uint64_t p0 = uint64_t{kMultiplier0} * c[0];
    const uint64_t p1 = uint64_t{kMultiplier1} * c[2];
    c = {static_cast<uint32_t>(p1 >> 32) ^ c[1] ^ k[0], static_cast<uint32_t>(p1),
         static_cast<uint32_t>(p0 >> 32) ^ c[3] ^ k[1], static_cast<uint32_t>(p0)};
    k[0] += kKeyStep0;
    k[1] += kKeyStep1;
  }
  return c;
}

void box_muller(uint32_t x0, uint32_t x1, float* f0, float* f1) {
  const float epsilon = 1.0e-7f;
  float u1 = uint32_to_float(x0);
  if (u1 < epsilon) u1 = epsilon;
  // The angle is formed in double, as TensorFlow's 2 * M_PI product is.
  const float v1 = static_cast<float>(kTwoPi * uint32_to_float(x1));
  const float u2 = std::sqrt(-2.0f * std::log(u1));
  *f0 = std::sin(v1) * u2;
  *f1 = std::cos(v1) * u2;
}

void box_muller(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, double* d0, double* d1) {
  const double epsilon = 1.0e-7;
  double u1 = uint64_to_double(x0, x1);
  if (u1 < epsilon) u1 = epsilon;
  const double v1 = kTwoPi * uint64_to_double(x2, x3);
  const double u2 = std::sqrt(-2.0 * std::log(u1));
  *d0 = std::sin(v1) * u2;
  *d1 = std::cos(v1) * u2;
}

}  // namespace qtf
