// ResizeBicubic: cubic convolution of NHWC images to `size`, output float.
//
// As TensorFlow does it: the cubic coefficient is -0.5 (Keys) with
// half_pixel_centers and -0.75 otherwise; the fractional source position is
// rounded to 1/1024 and the weights read from a table; with
// half_pixel_centers taps outside the image get weight 0 and the rest are
// renormalised, while the legacy modes repeat the edge pixel instead.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "kernels/resize_kernel.h"

namespace qtf {
namespace {

constexpr int kTableSize = 1024;

// Four source indices and weights of one output coordinate.
struct CubicTaps {
  std::array<int64_t, 4> index;
  std::array<float, 4> weight;
};

// table[2i] = weight of a tap at distance i/1024, table[2i+1] at 1 + i/1024.
std::vector<float> cubic_table(float a) {
  std::vector<float> t(2 * (kTableSize + 1));
  for (int i = 0; i <= kTableSize; ++i) {
    const float x = static_cast<float>(i) / kTableSize;
    t[2 * static_cast<size_t>(i)] = ((a + 2) * x - (a + 3)) * x * x + 1;
    const float y = x + 1;
    t[2 * static_cast<size_t>(i) + 1] = ((a * y - 5 * a) * y + 8 * a) * y - 4 * a;
  }
  return t;
}

std::vector<CubicTaps> cubic_taps(int64_t in, int64_t out, const ResizeFlags& flags) {
  const bool keys = flags.half_pixel_centers;
  static const std::vector<float> keys_table = cubic_table(-0.5f);
  static const std::vector<float> legacy_table = cubic_table(-0.75f);
  const std::vector<float>& table = keys ? keys_table : legacy_table;
  const float scale = resize_scale(in, out, flags.align_corners);
  std::vector<CubicTaps> taps(static_cast<size_t>(out));
  for (int64_t i = 0; i < out; ++i) {
    const float src = keys ? (static_cast<float>(i) + 0.5f) * scale - 0.5f
                           : static_cast<float>(i) * scale;
    const int64_t base = static_cast<int64_t>(std::floor(src));
    const size_t offset = static_cast<size_t>(
        std::lrint((src - static_cast<float>(base)) * kTableSize));
    CubicTaps& t = taps[static_cast<size_t>(i)];
    t.weight = {table[offset * 2 + 1], table[offset * 2], table[(kTableSize - offset) * 2],
                table[(kTableSize - offset) * 2 + 1]};
    float total = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int64_t s = base - 1 + static_cast<int64_t>(k);
      t.index[k] = std::min<int64_t>(std::max<int64_t>(s, 0), in - 1);
      if (keys && (s < 0 || s >= in)) t.weight[k] = 0;
      total += t.weight[k];
    }
    if (keys && std::fabs(total) >= 1000.f * std::numeric_limits<float>::min()) {
      for (float& w : t.weight) w /= total;
    }
  }
  return taps;
}

template <typename T>
struct BicubicRows {
  static void run(const ResizeRows& rows, const std::vector<CubicTaps>& ys,
                  const std::vector<CubicTaps>& xs, int64_t begin, int64_t end) {
    const T* x = static_cast<const T*>(rows.images);
    const int64_t h = rows.h, w = rows.w, c = rows.c, oh = rows.oh, ow = rows.ow;
    for (int64_t r = begin; r < end; ++r) {
      const T* image = x + (r / oh) * h * w * c;
      const CubicTaps& ty = ys[static_cast<size_t>(r % oh)];
      float* out = static_cast<float*>(rows.out) + r * ow * c;
      for (int64_t ox = 0; ox < ow; ++ox, out += c) {
        const CubicTaps& tx = xs[static_cast<size_t>(ox)];
        for (int64_t k = 0; k < c; ++k) {
          float sum = 0;
          for (size_t j = 0; j < 4; ++j) {
            const T* row = image + ty.index[j] * w * c + k;
            float across = 0;
            for (size_t i = 0; i < 4; ++i) {
              across += tx.weight[i] * static_cast<float>(row[tx.index[i] * c]);
            }
            sum += ty.weight[j] * across;
          }
          out[k] = sum;
        }
      }
    }
  }
};

struct ResizeBicubicKernel : ResizeKernel<CubicTaps> {
  ResizeBicubicKernel(const NodeAttrs& a, Status* s)
      : ResizeKernel(a, s, &cubic_taps, &numeric_resize_loop<CubicTaps, BicubicRows>,
                     Output::kFloat) {}
};

}  // namespace

QTF_REGISTER_KERNEL("ResizeBicubic", ResizeBicubicKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ResizeBicubic"
  input_arg { name: "images" type_attr: "T" }
  input_arg { name: "size" type: DT_INT32 }
  output_arg { name: "resized_images" type: DT_FLOAT }
  attr { name: "T" type: "type" }
  attr { name: "align_corners" type: "bool" default_value { b: false } }
  attr { name: "half_pixel_centers" type: "bool" default_value { b: false } })pb");

}  // namespace qtf
