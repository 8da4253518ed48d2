// Sliding-window geometry shared by convolutions and pooling: output size
// and padding for TensorFlow's SAME / VALID / EXPLICIT modes, and the
// checks of the stride/dilation/ksize attribute lists, over two spatial
// axes (NHWC, NCHW) or three (NDHWC, NCDHW).
#pragma once

#include <string>
#include <vector>

#include "core/kernel.h"

namespace qtf {

enum class Padding { kSame, kValid, kExplicit };

// What one op accepts: its number of spatial axes, whether its data_format
// may put the channels first, and whether it has EXPLICIT padding.
struct WindowForm {
  int spatial_rank = 2;
  bool channels_first_allowed = false;
  bool explicit_allowed = true;
};

// Spatial settings of one window op, read at prepare time. Per-axis lists
// run over the spatial axes in data order (H, W or D, H, W).
struct WindowAttrs {
  Padding padding = Padding::kValid;
  bool channels_first = false;  // NCHW / NCDHW
  std::vector<int64_t> strides, dilations;
  std::vector<int64_t> pad_before, pad_after;  // EXPLICIT only
  int spatial_rank() const { return static_cast<int>(strides.size()); }
  // Where spatial axis `k` and the channels sit in a full data shape.
  int spatial_index(int k) const { return (channels_first ? 2 : 1) + k; }
  int channel_index() const { return channels_first ? 1 : spatial_rank() + 1; }
};

// One spatial axis resolved for an input size.
struct WindowAxis {
  int64_t out = 0, pad_before = 0, pad_after = 0;
};

// Reads data_format, padding, strides, explicit_paddings (when EXPLICIT)
// and, if `dilations_attr` is non-null, dilations (else all 1); rejects
// data formats and paddings `form` does not accept, and strides/dilations
// on the batch or channel axes.
Status read_window_attrs(const NodeAttrs& attrs, const char* dilations_attr, WindowAttrs* out,
                         const WindowForm& form = WindowForm());

// Reads a 4-entry NHWC list attribute such as ksize and returns its H and W
// entries; the N and C entries must be 1.
Status read_spatial_pair(const NodeAttrs& attrs, const char* name, int64_t* h, int64_t* w);

// SAME puts the odd padding pixel at the end, as TensorFlow does.
Status resolve_axis(const std::string& where, Padding padding, int64_t in, int64_t window,
                    int64_t stride, int64_t dilation, int64_t explicit_before,
                    int64_t explicit_after, WindowAxis* out);

// Every spatial axis of the data shape `in` (laid out as `window` says)
// under a window of `size` (one entry per spatial axis).
Status resolve_window(const std::string& where, const WindowAttrs& window, const Shape& in,
                      const std::vector<int64_t>& size, std::vector<WindowAxis>* out);

}  // namespace qtf
