#include "fma_peak.h"

#include <dnnl.hpp>
#include <immintrin.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace unet {

namespace {

// The three loops differ only in their vector type; each is compiled for its
// own instruction set and only called when the CPU reports it.
__attribute__((target("avx512f"), noinline)) float rounds_avx512(int64_t iterations, float seed) {
  const __m512 a = _mm512_set1_ps(0.999999f);
  const __m512 b = _mm512_set1_ps(1e-7f);
  __m512 acc[12];
  for (int k = 0; k < 12; ++k) acc[k] = _mm512_set1_ps(seed + static_cast<float>(k));
  for (int64_t i = 0; i < iterations; ++i) {
    for (int k = 0; k < 12; ++k) acc[k] = _mm512_fmadd_ps(acc[k], a, b);
  }
  __m512 sum = acc[0];
  for (int k = 1; k < 12; ++k) sum = _mm512_add_ps(sum, acc[k]);
  alignas(64) float lanes[16];
  _mm512_store_ps(lanes, sum);
  float total = 0.f;
  for (float v : lanes) total += v;
  return total;
}

__attribute__((target("avx2,fma"), noinline)) float rounds_avx2(int64_t iterations, float seed) {
  const __m256 a = _mm256_set1_ps(0.999999f);
  const __m256 b = _mm256_set1_ps(1e-7f);
  __m256 acc[12];
  for (int k = 0; k < 12; ++k) acc[k] = _mm256_set1_ps(seed + static_cast<float>(k));
  for (int64_t i = 0; i < iterations; ++i) {
    for (int k = 0; k < 12; ++k) acc[k] = _mm256_fmadd_ps(acc[k], a, b);
  }
  __m256 sum = acc[0];
  for (int k = 1; k < 12; ++k) sum = _mm256_add_ps(sum, acc[k]);
  alignas(32) float lanes[8];
  _mm256_store_ps(lanes, sum);
  float total = 0.f;
  for (float v : lanes) total += v;
  return total;
}

// Baseline SSE2: a multiply and an add per element, counted as two FLOPs.
__attribute__((noinline)) float rounds_plain(int64_t iterations, float seed) {
  const __m128 a = _mm_set1_ps(0.999999f);
  const __m128 b = _mm_set1_ps(1e-7f);
  __m128 acc[12];
  for (int k = 0; k < 12; ++k) acc[k] = _mm_set1_ps(seed + static_cast<float>(k));
  for (int64_t i = 0; i < iterations; ++i) {
    for (int k = 0; k < 12; ++k) acc[k] = _mm_add_ps(_mm_mul_ps(acc[k], a), b);
  }
  __m128 sum = acc[0];
  for (int k = 1; k < 12; ++k) sum = _mm_add_ps(sum, acc[k]);
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, sum);
  float total = 0.f;
  for (float v : lanes) total += v;
  return total;
}

// Whether oneDNN may use the instruction set `isa` (its ISA values are bit
// sets, each including the ones it extends). Capping oneDNN with
// ONEDNN_MAX_CPU_ISA=AVX2 on an AVX-512 machine then caps the peak too, so
// the AVX2 kernels are measured against the AVX2 peak.
bool dnnl_allows(dnnl_cpu_isa_t isa) {
  const unsigned effective = static_cast<unsigned>(dnnl::get_effective_cpu_isa());
  return (effective & static_cast<unsigned>(isa)) == static_cast<unsigned>(isa);
}

FmaLoop choose_loop() {
  if (__builtin_cpu_supports("avx512f") && dnnl_allows(dnnl_cpu_isa_avx512_core)) return {"AVX-512 FMA", 16, &rounds_avx512};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && dnnl_allows(dnnl_cpu_isa_avx2)) {
    return {"AVX2 FMA", 8, &rounds_avx2};
  }
  return {"SSE2 multiply-add", 4, &rounds_plain};
}

}  // namespace

const FmaLoop& fma_loop() {
  static const FmaLoop loop = choose_loop();
  return loop;
}

namespace {

double thread_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

PeakRate fma_peak(int threads, double seconds) {
  const int64_t chunk = 200000;  // about a millisecond per call
  std::atomic<float> sink{0.f};
  std::vector<double> flop(static_cast<size_t>(threads), 0.0), cpu(static_cast<size_t>(threads), 0.0);
  std::vector<std::thread> pool;
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      fma_rounds(chunk, 0.f);  // warm up (clock ramp, AVX-512 licence)
      const double cpu0 = thread_cpu_seconds();
      const auto t0 = clock::now();
      int64_t rounds = 0;
      float s = 0;
      while (std::chrono::duration<double>(clock::now() - t0).count() < seconds) {
        s += fma_rounds(chunk, static_cast<float>(rounds));
        rounds += chunk;
      }
      sink.store(s);
      flop[static_cast<size_t>(t)] = fma_flop(rounds);
      cpu[static_cast<size_t>(t)] = thread_cpu_seconds() - cpu0;
    });
  }
  for (std::thread& th : pool) th.join();
  const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
  PeakRate r;
  double total_flop = 0, total_cpu = 0;
  for (size_t t = 0; t < flop.size(); ++t) {
    total_flop += flop[t];
    total_cpu += cpu[t];
  }
  r.wall = total_flop / elapsed * 1e-9;
  r.per_cpu = total_cpu > 0 ? total_flop / total_cpu * 1e-9 : 0;
  return r;
}

}  // namespace unet
