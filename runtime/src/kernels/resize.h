// Shared pieces of the resize kernels and ScaleAndTranslate: the flags,
// the input checks and the source-coordinate mapping TensorFlow uses.
#pragma once

#include <string>

#include "core/kernel.h"

namespace qtf {

struct ResizeFlags {
  bool align_corners = false;
  bool half_pixel_centers = false;
};

// Reads the flags; both set at once is refused as TensorFlow refuses it.
Status read_resize_flags(const NodeAttrs& attrs, ResizeFlags* flags);

// Checks images (rank 4) and size (2 positive int32) and gives the output height/width.
Status read_resize_target(const std::string& where, const Tensor& images, const Tensor& size,
                          int64_t* out_h, int64_t* out_w);

// Ratio between input and output sizes along one axis.
float resize_scale(int64_t in, int64_t out, bool align_corners);

}  // namespace qtf
