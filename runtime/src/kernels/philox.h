// Philox4x32-10, the counter-based generator behind TensorFlow's random ops,
// with TensorFlow's seed layouts, so that a seeded op gives the values
// TensorFlow gives.
//
// A generator is a 64-bit key and a 128-bit counter; each draw enciphers
// the counter into four 32-bit words and advances the counter by one.
#pragma once

#include <array>
#include <cstdint>

namespace qtf {

class Philox {
 public:
  using Key = std::array<uint32_t, 2>;
  using Counter = std::array<uint32_t, 4>;
  using Block = std::array<uint32_t, 4>;

  Philox(const Key& key, const Counter& counter) : key_(key), counter_(counter) {}

  // The generator of a stateful op seeded with (seed, seed2): key = seed,
  // counter = [0, 0, seed2].
  static Philox from_seeds(uint64_t seed, uint64_t seed2);

  // The generator of the stateless ops for a [2] seed tensor: the seeds are
  // scrambled by one Philox block, whose first half becomes the key and
  // second half the counter's upper words.
  static Philox from_stateless_seed(uint64_t seed0, uint64_t seed1);

  const Key& key() const { return key_; }
  const Counter& counter() const { return counter_; }

  // Advances the counter by `n` draws.
  void skip(uint64_t n);

  // The next four words.
  Block next() {
    const Block out = encipher(counter_, key_);
    skip(1);
    return out;
  }

  // The ten-round block function.
  static Block encipher(Counter counter, Key key);

 private:
  Key key_;
  Counter counter_;
};

// [0, 1) from the 23 mantissa bits of one word.
inline float uint32_to_float(uint32_t x) {
  const uint32_t bits = (127u << 23) | (x & 0x7fffffu);
  float f;
  __builtin_memcpy(&f, &bits, sizeof f);
  return f - 1.0f;
}

// [0, 1) from the 52 mantissa bits of two words (lo, hi).
inline double uint64_to_double(uint32_t lo, uint32_t hi) {
  const uint64_t bits = (uint64_t{1023} << 52) |
                        (((uint64_t{hi} << 32) | lo) & ((uint64_t{1} << 52) - 1));
  double d;
  __builtin_memcpy(&d, &bits, sizeof d);
  return d - 1.0;
}

// Two standard normal floats from two words (Box-Muller).
void box_muller(uint32_t x0, uint32_t x1, float* f0, float* f1);
// Two standard normal doubles from four words.
void box_muller(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, double* d0, double* d1);

}  // namespace qtf
