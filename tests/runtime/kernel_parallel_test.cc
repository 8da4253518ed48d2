// Kernels on tensors big enough to take their multi-threaded paths (at
// least kParallelMinElements elements), checked element by element against
// plain loops, and the buffer recycling behind Tensor::allocate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer_cache.h"
#include "kernel_testing.h"
#include "kernels/parallel.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT: test helpers

// Values with both signs and no simple period, so a misplaced element shows.
std::vector<float> pattern(int64_t n, float offset = 0.f) {
  std::vector<float> v(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) v[static_cast<size_t>(i)] = std::sin(0.37f * static_cast<float>(i)) * 5.f + offset;
  return v;
}

constexpr int64_t kBig = kParallelMinElements * 3 + 17;  // uneven split between threads

TEST(ParallelKernels, ReluOnABigTensorInPlaceAndCopied) {
  Node node("Relu");
  node.attr("T", TF_FLOAT);
  const std::vector<float> x = pattern(kBig);
  Tensor shared = make<float>({kBig}, x);
  Tensor keep = shared;  // a second holder forces a new output buffer
  const Tensor copied = node.run1({shared});
  EXPECT_NE(copied.raw(), keep.raw());
  const Tensor in_place = node.run1({make<float>({kBig}, x)});
  const std::vector<float> a = values<float>(copied), b = values<float>(in_place);
  ASSERT_EQ(a.size(), x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    ASSERT_EQ(a[i], std::max(x[i], 0.f)) << i;
    ASSERT_EQ(b[i], a[i]) << i;
  }
  EXPECT_EQ(values<float>(keep), x) << "the shared input must not be overwritten";
}

TEST(ParallelKernels, BiasAddOnManyRows) {
  const int64_t rows = kParallelMinElements / 8 + 5, channels = 24;
  Node node("BiasAdd");
  node.attr("T", TF_FLOAT);
  const std::vector<float> x = pattern(rows * channels), b = pattern(channels, 1.f);
  const std::vector<float> y = values<float>(node.run1({make<float>({1, rows, 1, channels}, x), make<float>({channels}, b)}));
  ASSERT_EQ(y.size(), x.size());
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t c = 0; c < channels; ++c) {
      const size_t i = static_cast<size_t>(r * channels + c);
      ASSERT_EQ(y[i], x[i] + b[static_cast<size_t>(c)]) << r << "," << c;
    }
  }
}

TEST(ParallelKernels, ConcatOfBigImagesAlongChannels) {
  const int64_t h = 64, w = 160, ca = 5, cb = 3;
  Node node("ConcatV2");
  node.attr("T", TF_FLOAT).attr("N", 2);
  const std::vector<float> a = pattern(h * w * ca), b = pattern(h * w * cb, 100.f);
  const Tensor y = node.run1({make<float>({1, h, w, ca}, a), make<float>({1, h, w, cb}, b), scalar<int32_t>(3)});
  ASSERT_EQ(y.shape(), (Shape{1, h, w, ca + cb}));
  const float* p = y.data<float>();
  for (int64_t px = 0; px < h * w; ++px) {
    for (int64_t c = 0; c < ca + cb; ++c) {
      const float want = c < ca ? a[static_cast<size_t>(px * ca + c)] : b[static_cast<size_t>(px * cb + c - ca)];
      ASSERT_EQ(p[px * (ca + cb) + c], want) << px << "," << c;
    }
  }
}

TEST(ParallelKernels, NearestUpsamplingOfABatch) {
  const int64_t n = 2, h = 33, w = 70, c = 4, oh = 66, ow = 140;
  Node node("ResizeNearestNeighbor");
  node.attr("T", TF_FLOAT);
  const std::vector<float> x = pattern(n * h * w * c);
  const Tensor y = node.run1({make<float>({n, h, w, c}, x), make<int32_t>({2}, {oh, ow})});
  ASSERT_EQ(y.shape(), (Shape{n, oh, ow, c}));
  const float* p = y.data<float>();
  for (int64_t b = 0; b < n; ++b) {
    for (int64_t i = 0; i < oh; ++i) {
      for (int64_t j = 0; j < ow; ++j) {
        for (int64_t k = 0; k < c; ++k) {
          // Exact 2x: output (i, j) comes from input (i / 2, j / 2).
          const float want = x[static_cast<size_t>(((b * h + i / 2) * w + j / 2) * c + k)];
          ASSERT_EQ(p[((b * oh + i) * ow + j) * c + k], want) << b << "," << i << "," << j << "," << k;
        }
      }
    }
  }
}

// LeakyRelu takes its slope from an attr: every thread must see it, and
// the in-place path must write the same values as the copying one.
TEST(ParallelKernels, LeakyReluSlopeReachesEveryThread) {
  Node node("LeakyRelu");
  node.attr("T", TF_FLOAT).attr("alpha", 0.125f);
  const std::vector<float> x = pattern(kBig);
  Tensor shared = make<float>({kBig}, x);
  Tensor keep = shared;
  const std::vector<float> copied = values<float>(node.run1({shared}));
  const std::vector<float> in_place = values<float>(node.run1({make<float>({kBig}, x)}));
  ASSERT_EQ(copied.size(), x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    ASSERT_EQ(copied[i], x[i] > 0.f ? x[i] : 0.125f * x[i]) << i;
    ASSERT_EQ(in_place[i], copied[i]) << i;
  }
  EXPECT_EQ(values<float>(keep), x);
}

// A threaded bilinear resize of a batch against the interpolation written
// out per pixel, so a row given the wrong image or source row shows.
TEST(ParallelKernels, BilinearResizeOfABatchMatchesPlainInterpolation) {
  const int64_t n = 3, h = 41, w = 197, c = 3, oh = 61, ow = 150;  // above the threading threshold
  Node node("ResizeBilinear");
  node.attr("T", TF_FLOAT).attr("half_pixel_centers", true);
  const std::vector<float> x = pattern(n * h * w * c);
  const Tensor y = node.run1({make<float>({n, h, w, c}, x), make<int32_t>({2}, {oh, ow})});
  ASSERT_EQ(y.shape(), (Shape{n, oh, ow, c}));
  auto at = [&](int64_t b, int64_t i, int64_t j, int64_t k) {
    return x[static_cast<size_t>(((b * h + i) * w + j) * c + k)];
  };
  auto source = [](int64_t o, int64_t in, int64_t out, int64_t* lo, int64_t* hi, float* t) {
    const float s = (static_cast<float>(o) + 0.5f) * (static_cast<float>(in) / static_cast<float>(out)) - 0.5f;
    const float f = std::floor(s);
    *lo = std::max<int64_t>(static_cast<int64_t>(f), 0);
    *hi = std::min<int64_t>(static_cast<int64_t>(std::ceil(s)), in - 1);
    *t = s - f;
  };
  const float* p = y.data<float>();
  for (int64_t b = 0; b < n; ++b) {
    for (int64_t i = 0; i < oh; ++i) {
      int64_t y0, y1;
      float ty;
      source(i, h, oh, &y0, &y1, &ty);
      for (int64_t j = 0; j < ow; ++j) {
        int64_t x0, x1;
        float tx;
        source(j, w, ow, &x0, &x1, &tx);
        for (int64_t k = 0; k < c; ++k) {
          const float top = at(b, y0, x0, k) + (at(b, y0, x1, k) - at(b, y0, x0, k)) * tx;
          const float bottom = at(b, y1, x0, k) + (at(b, y1, x1, k) - at(b, y1, x0, k)) * tx;
          ASSERT_NEAR(p[((b * oh + i) * ow + j) * c + k], top + (bottom - top) * ty, 1e-5f)
              << b << "," << i << "," << j << "," << k;
        }
      }
    }
  }
}

// Broadcasting binary ops: the plan shapes that run threaded (one or two
// merged dimensions, long single rows cut into blocks) and one that does not.
TEST(ParallelKernels, BroadcastingBinaryOpsOnBigTensors) {
  struct Case {
    const char* op;
    Shape x, y;
  };
  const int64_t h = 96, w = 200, c = 7;
  const Case cases[] = {
      {"AddV2", {1, h, w, c}, {1, h, w, c}},  // one flat row, cut into blocks
      {"Mul", {1, h, w, c}, {c}},             // rows x channels
      {"Sub", {}, {1, h, w, c}},              // scalar first
      {"Maximum", {1, h, 1, c}, {1, 1, w, c}},  // three merged dimensions: single-threaded
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.op);
    Node node(k.op);
    node.attr("T", TF_FLOAT);
    const std::vector<float> xv = pattern(num_elements(k.x)), yv = pattern(num_elements(k.y), 0.5f);
    const Tensor z = node.run1({make<float>(k.x, xv), make<float>(k.y, yv)});
    ASSERT_EQ(z.shape(), (Shape{1, h, w, c}));
    // Reference by explicit index arithmetic on the 4-D output.
    const auto at = [&](const Shape& s, const std::vector<float>& v, int64_t i, int64_t j, int64_t ch) {
      if (s.empty()) return v[0];
      if (s.size() == 1) return v[static_cast<size_t>(ch)];
      const int64_t ii = s[1] == 1 ? 0 : i, jj = s[2] == 1 ? 0 : j;
      return v[static_cast<size_t>((ii * s[2] + jj) * s[3] + ch)];
    };
    const float* p = z.data<float>();
    for (int64_t i = 0; i < h; ++i) {
      for (int64_t j = 0; j < w; ++j) {
        for (int64_t ch = 0; ch < c; ++ch) {
          const float a = at(k.x, xv, i, j, ch), b = at(k.y, yv, i, j, ch);
          const std::string op = k.op;
          const float want = op == "AddV2" ? a + b : op == "Mul" ? a * b : op == "Sub" ? a - b : std::max(a, b);
          ASSERT_EQ(p[(i * w + j) * c + ch], want) << i << "," << j << "," << ch;
        }
      }
    }
  }
}

TEST(BufferCache, ReusesLargeBuffersOfTheSameSizeOnly) {
  const size_t big = kMinCachedBytes * 2;
  void* first = acquire_buffer(big);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % kBufferAlignment, 0u);
  const size_t before = cached_buffer_bytes();
  release_buffer(first, big);
  EXPECT_EQ(cached_buffer_bytes(), before + big);
  // Another size does not take it.
  void* other = acquire_buffer(big + kBufferAlignment);
  EXPECT_NE(other, first);
  EXPECT_EQ(cached_buffer_bytes(), before + big);
  // The same size does, and it leaves the cache.
  void* again = acquire_buffer(big);
  EXPECT_EQ(again, first);
  EXPECT_EQ(cached_buffer_bytes(), before);
  release_buffer(again, big);
  release_buffer(other, big + kBufferAlignment);
}

TEST(BufferCache, SmallBuffersAreNotKept) {
  const size_t small = kMinCachedBytes / 2;
  const size_t before = cached_buffer_bytes();
  release_buffer(acquire_buffer(small), small);
  EXPECT_EQ(cached_buffer_bytes(), before);
}

TEST(BufferCache, TensorsGiveTheirBuffersBackWhenTheLastCopyGoes) {
  const int64_t n = static_cast<int64_t>(kMinCachedBytes / sizeof(float)) + 1000;
  const size_t before = cached_buffer_bytes();
  void* raw = nullptr;
  {
    Tensor a = Tensor::allocate(TF_FLOAT, {n});
    raw = a.raw();
    Tensor b = a;
    a = Tensor();
    EXPECT_EQ(cached_buffer_bytes(), before) << "still held by a copy";
  }
  EXPECT_GT(cached_buffer_bytes(), before);
  // A tensor of the same size gets the same memory back, and owns it alone.
  Tensor c = Tensor::allocate(TF_FLOAT, {n});
  EXPECT_EQ(c.raw(), raw);
  EXPECT_TRUE(c.is_sole_owner());
  EXPECT_EQ(cached_buffer_bytes(), before);
}

}  // namespace
}  // namespace qtf
