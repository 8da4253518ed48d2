#include "fma_peak.h"

#include <immintrin.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace unet {

__attribute__((target("avx512f"), noinline)) float fma_rounds(int64_t iterations, float seed) {
  const __m512 a = _mm512_set1_ps(0.999999f);
  const __m512 b = _mm512_set1_ps(1e-7f);
  __m512 acc[12];
  for (int k = 0; k < 12; ++k) acc[k] = _mm512_set1_ps(seed + static_cast<float>(k));
  for (int64_t i = 0; i < iterations; ++i) {
    acc[0] = _mm512_fmadd_ps(acc[0], a, b);
    acc[1] = _mm512_fmadd_ps(acc[1], a, b);
    acc[2] = _mm512_fmadd_ps(acc[2], a, b);
    acc[3] = _mm512_fmadd_ps(acc[3], a, b);
    acc[4] = _mm512_fmadd_ps(acc[4], a, b);
    acc[5] = _mm512_fmadd_ps(acc[5], a, b);
    acc[6] = _mm512_fmadd_ps(acc[6], a, b);
    acc[7] = _mm512_fmadd_ps(acc[7], a, b);
    acc[8] = _mm512_fmadd_ps(acc[8], a, b);
    acc[9] = _mm512_fmadd_ps(acc[9], a, b);
    acc[10] = _mm512_fmadd_ps(acc[10], a, b);
    acc[11] = _mm512_fmadd_ps(acc[11], a, b);
  }
  __m512 sum = acc[0];
  for (int k = 1; k < 12; ++k) sum = _mm512_add_ps(sum, acc[k]);
  alignas(64) float lanes[16];
  _mm512_store_ps(lanes, sum);
  float total = 0.f;
  for (float v : lanes) total += v;
  return total;
}

double fma_peak_gflops(int threads, double seconds) {
  // Calibrate one chunk to about a millisecond, then run chunks until time is up.
  const int64_t chunk = 200000;
  std::atomic<float> sink{0.f};
  std::vector<double> gflops(static_cast<size_t>(threads), 0.0);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      using clock = std::chrono::steady_clock;
      fma_rounds(chunk, 0.f);  // warm up (clock ramp, AVX-512 licence)
      const auto start = clock::now();
      int64_t rounds = 0;
      double elapsed = 0;
      float s = 0;
      while (elapsed < seconds) {
        s += fma_rounds(chunk, static_cast<float>(rounds));
        rounds += chunk;
        elapsed = std::chrono::duration<double>(clock::now() - start).count();
      }
      sink.store(s);
      gflops[static_cast<size_t>(t)] = fma_flop(rounds) / elapsed * 1e-9;
    });
  }
  for (std::thread& th : pool) th.join();
  double total = 0;
  for (double g : gflops) total += g;
  return total;
}

}  // namespace unet
