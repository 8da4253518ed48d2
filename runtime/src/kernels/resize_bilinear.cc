// ResizeBilinear: bilinear interpolation of NHWC images to `size`; the
// output is float whatever the input type.
#include <cmath>
#include <vector>

#include "kernels/resize_kernel.h"

namespace qtf {
namespace {

// Source neighbours and weight of one output coordinate.
struct Taps {
  int64_t lo, hi;
  float lerp;
};

std::vector<Taps> make_taps(int64_t in, int64_t out, const ResizeFlags& flags) {
  const float scale = resize_scale(in, out, flags.align_corners);
  std::vector<Taps> taps(static_cast<size_t>(out));
  for (int64_t i = 0; i < out; ++i) {
    const float src = flags.half_pixel_centers
                          ? (static_cast<float>(i) + 0.5f) * scale - 0.5f
                          : static_cast<float>(i) * scale;
    const float floor_src = std::floor(src);
    Taps& t = taps[static_cast<size_t>(i)];
    t.lo = std::max<int64_t>(static_cast<int64_t>(floor_src), 0);
    t.hi = std::min<int64_t>(static_cast<int64_t>(std::ceil(src)), in - 1);
    t.lerp = src - floor_src;
  }
  return taps;
}

template <typename T>
struct BilinearRows {
  static void run(const ResizeRows& rows, const std::vector<Taps>& ys, const std::vector<Taps>& xs,
                  int64_t begin, int64_t end) {
    const T* x = static_cast<const T*>(rows.images);
    const int64_t h = rows.h, w = rows.w, c = rows.c, oh = rows.oh, ow = rows.ow;
    for (int64_t r = begin; r < end; ++r) {
      const T* image = x + (r / oh) * h * w * c;
      const Taps& ty = ys[static_cast<size_t>(r % oh)];
      const T* top = image + ty.lo * w * c;
      const T* bottom = image + ty.hi * w * c;
      float* y = static_cast<float*>(rows.out) + r * ow * c;
      for (int64_t ox = 0; ox < ow; ++ox, y += c) {
        const Taps& tx = xs[static_cast<size_t>(ox)];
        const T* tl = top + tx.lo * c;
        const T* tr = top + tx.hi * c;
        const T* bl = bottom + tx.lo * c;
        const T* br = bottom + tx.hi * c;
        for (int64_t k = 0; k < c; ++k) {
          const float t = static_cast<float>(tl[k]) +
                          (static_cast<float>(tr[k]) - static_cast<float>(tl[k])) * tx.lerp;
          const float u = static_cast<float>(bl[k]) +
                          (static_cast<float>(br[k]) - static_cast<float>(bl[k])) * tx.lerp;
          y[k] = t + (u - t) * ty.lerp;
        }
      }
    }
  }
};

struct ResizeBilinearKernel : ResizeKernel<Taps> {
  ResizeBilinearKernel(const NodeAttrs& a, Status* s)
      : ResizeKernel(a, s, &make_taps, &numeric_resize_loop<Taps, BilinearRows>, Output::kFloat) {}
};

}  // namespace

QTF_REGISTER_KERNEL("ResizeBilinear", ResizeBilinearKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ResizeBilinear"
  input_arg { name: "images" type_attr: "T" }
  input_arg { name: "size" type: DT_INT32 }
  output_arg { name: "resized_images" type: DT_FLOAT }
  attr { name: "T" type: "type" }
  attr { name: "align_corners" type: "bool" default_value { b: false } }
  attr { name: "half_pixel_centers" type: "bool" default_value { b: false } })pb");

}  // namespace qtf
