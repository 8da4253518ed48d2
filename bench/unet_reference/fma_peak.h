// The machine's single-precision peak as a tight FMA loop: twelve independent
// accumulators, enough to cover the FMA latency on both pipes. The loop uses
// the widest vector FMA the CPU reports (AVX-512, else AVX2 with FMA, else
// plain multiply-adds), so the bench runs on any x86-64 machine, and no wider
// one than oneDNN may use (ONEDNN_MAX_CPU_ISA), so that its kernels are
// always measured against the peak of their own instruction set.
#pragma once

#include <cstdint>

namespace unet {

// The loop chosen for this CPU: its name for printing and the floats one
// accumulator holds.
struct FmaLoop {
  const char* name;
  int lanes;
  float (*rounds)(int64_t iterations, float seed);
};
const FmaLoop& fma_loop();

// Runs `iterations` rounds of 12 fused multiply-adds on fma_loop().lanes
// floats starting from `seed` and returns a value derived from the
// accumulators (a varying seed keeps the compiler from reusing an earlier
// call's result).
inline float fma_rounds(int64_t iterations, float seed) { return fma_loop().rounds(iterations, seed); }
// FLOPs done by fma_rounds(iterations).
inline double fma_flop(int64_t iterations) {
  return 2.0 * 12 * fma_loop().lanes * static_cast<double>(iterations);
}
struct PeakRate {
  double wall = 0;      // GFLOP/s of all threads together over elapsed time
  double per_cpu = 0;   // GFLOP per CPU-second of one thread (load-independent)
};
// `threads` threads each running the loop for about `seconds`.
PeakRate fma_peak(int threads, double seconds);

}  // namespace unet
