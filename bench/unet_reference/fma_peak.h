// The machine's single-precision peak as a tight AVX-512 FMA loop: twelve
// independent accumulators, enough to cover the FMA latency on both pipes.
#pragma once

#include <cstdint>

namespace unet {

// Runs `iterations` rounds of 12 fused multiply-adds on 16 floats starting
// from `seed` and returns a value derived from the accumulators (a varying
// seed keeps the compiler from reusing an earlier call's result).
float fma_rounds(int64_t iterations, float seed);
// FLOPs done by fma_rounds(iterations).
inline double fma_flop(int64_t iterations) { return 2.0 * 12 * 16 * static_cast<double>(iterations); }
struct PeakRate {
  double wall = 0;      // GFLOP/s of all threads together over elapsed time
  double per_cpu = 0;   // GFLOP per CPU-second of one thread (load-independent)
};
// `threads` threads each running the loop for about `seconds`.
PeakRate fma_peak(int threads, double seconds);

}  // namespace unet
