// ResizeNearestNeighbor: nearest-pixel resize of NHWC images to `size`,
// keeping the element type.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/resize_kernel.h"

namespace qtf {
namespace {

// Source index of each output coordinate, as TensorFlow picks it: floor of
// the scaled position, rounded instead with align_corners, and measured from
// pixel centres with half_pixel_centers.
std::vector<int64_t> nearest_sources(int64_t in, int64_t out, const ResizeFlags& flags) {
  const float scale = resize_scale(in, out, flags.align_corners);
  std::vector<int64_t> src(static_cast<size_t>(out));
  for (int64_t i = 0; i < out; ++i) {
    const float pos = flags.half_pixel_centers ? (static_cast<float>(i) + 0.5f) * scale
                                               : static_cast<float>(i) * scale;
    int64_t s = static_cast<int64_t>(flags.align_corners ? std::round(pos) : std::floor(pos));
    s = std::min<int64_t>(s, in - 1);
    src[static_cast<size_t>(i)] = std::max<int64_t>(s, 0);
  }
  return src;
}

// Each output pixel is a copy of one input pixel's c channels, whatever the type.
void copy_rows(const ResizeRows& rows, const std::vector<int64_t>& ys,
               const std::vector<int64_t>& xs, int64_t begin, int64_t end) {
  const size_t pixel = static_cast<size_t>(rows.c) * rows.element_size;
  const char* x = static_cast<const char*>(rows.images);
  char* y = static_cast<char*>(rows.out);
  for (int64_t r = begin; r < end; ++r) {
    const int64_t b = r / rows.oh;
    const char* row =
        x + static_cast<size_t>((b * rows.h + ys[static_cast<size_t>(r % rows.oh)]) * rows.w) * pixel;
    char* dst = y + static_cast<size_t>(r * rows.ow) * pixel;
    for (int64_t sx : xs) {
      std::memcpy(dst, row + static_cast<size_t>(sx) * pixel, pixel);
      dst += pixel;
    }
  }
}

using NearestKernel = ResizeKernel<int64_t>;

NearestKernel::RowLoop select_copy(DataType dtype) {
  return dtype_size(dtype) == 0 ? nullptr : &copy_rows;
}

struct ResizeNearestNeighborKernel : NearestKernel {
  ResizeNearestNeighborKernel(const NodeAttrs& a, Status* s)
      : NearestKernel(a, s, &nearest_sources, &select_copy, Output::kInputType) {}
};

}  // namespace

QTF_REGISTER_KERNEL("ResizeNearestNeighbor", ResizeNearestNeighborKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ResizeNearestNeighbor"
  input_arg { name: "images" type_attr: "T" }
  input_arg { name: "size" type: DT_INT32 }
  output_arg { name: "resized_images" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "align_corners" type: "bool" default_value { b: false } }
  attr { name: "half_pixel_centers" type: "bool" default_value { b: false } })pb");

}  // namespace qtf
