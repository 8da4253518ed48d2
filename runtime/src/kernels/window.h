// Sliding-window geometry shared by convolutions and pooling: output size
// and padding for TensorFlow's SAME / VALID / EXPLICIT modes, and the
// checks of the NHWC stride/dilation/ksize attribute lists.
#pragma once

#include <string>
#include <vector>

#include "core/kernel.h"

namespace qtf {

enum class Padding { kSame, kValid, kExplicit };

// Spatial settings of one NHWC window op, read at prepare time.
struct WindowAttrs {
  Padding padding = Padding::kValid;
  int64_t stride_h = 1, stride_w = 1;
  int64_t dilation_h = 1, dilation_w = 1;
  // EXPLICIT only: top, bottom, left, right.
  int64_t pad_top = 0, pad_bottom = 0, pad_left = 0, pad_right = 0;
};

// One spatial axis resolved for an input size.
struct WindowAxis {
  int64_t out = 0, pad_before = 0, pad_after = 0;
};

// Reads padding, strides, explicit_paddings (when present) and, if
// `dilations_attr` is non-null, dilations; rejects data formats other than
// NHWC and strides/dilations on the batch or channel axes.
Status read_window_attrs(const NodeAttrs& attrs, const char* dilations_attr, WindowAttrs* out);

// Reads a 4-entry NHWC list attribute such as ksize and returns its H and W
// entries; the N and C entries must be 1.
Status read_spatial_pair(const NodeAttrs& attrs, const char* name, int64_t* h, int64_t* w);

// SAME puts the odd padding pixel at the end, as TensorFlow does.
Status resolve_axis(const std::string& where, Padding padding, int64_t in, int64_t window,
                    int64_t stride, int64_t dilation, int64_t explicit_before,
                    int64_t explicit_after, WindowAxis* out);

// Both spatial axes of an NHWC input `in` under a kh x kw window.
Status resolve_window(const std::string& where, const WindowAttrs& window, const Shape& in,
                      int64_t kh, int64_t kw, WindowAxis* h, WindowAxis* w);

}  // namespace qtf
