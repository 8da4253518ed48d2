// Window geometry.
#include "kernels/window.h"

namespace qtf {

Status read_spatial_pair(const NodeAttrs& attrs, const char* name, int64_t* h, int64_t* w) {
  std::vector<int64_t> v;
  QTF_RETURN_IF_ERROR(attrs.get_int_list(name, &v));
  if (v.size() != 4 || v[0] != 1 || v[3] != 1 || v[1] < 1 || v[2] < 1) {
    return invalid_argument(attrs.where() + name + " must be [1, h, w, 1] with h, w >= 1, got " +
                            shape_string(v));
  }
  *h = v[1];
  *w = v[2];
  return Status::ok();
}

Status read_window_attrs(const NodeAttrs& attrs, const char* dilations_attr, WindowAttrs* out) {
  const std::string format = attrs.string_or("data_format", "NHWC");
  if (format != "NHWC") {
    return unimplemented(attrs.where() + "data_format " + format + " is not supported (NHWC only)");
  }
  std::string padding;
  QTF_RETURN_IF_ERROR(attrs.get_string("padding", &padding));
  if (padding == "SAME") {
    out->padding = Padding::kSame;
  } else if (padding == "VALID") {
    out->padding = Padding::kValid;
  } else if (padding == "EXPLICIT") {
    out->padding = Padding::kExplicit;
    std::vector<int64_t> p;
    QTF_RETURN_IF_ERROR(attrs.get_int_list("explicit_paddings", &p));
    if (p.size() != 8 || p[0] != 0 || p[1] != 0 || p[6] != 0 || p[7] != 0) {
      return invalid_argument(attrs.where() +
                              "explicit_paddings must hold 8 values with zero batch and channel "
                              "padding, got " + shape_string(p));
    }
    for (int64_t v : p) {
      if (v < 0) return invalid_argument(attrs.where() + "explicit_paddings must not be negative");
    }
    out->pad_top = p[2];
    out->pad_bottom = p[3];
    out->pad_left = p[4];
    out->pad_right = p[5];
  } else {
    return invalid_argument(attrs.where() + "unknown padding '" + padding + "'");
  }
  QTF_RETURN_IF_ERROR(read_spatial_pair(attrs, "strides", &out->stride_h, &out->stride_w));
  if (dilations_attr != nullptr) {
    QTF_RETURN_IF_ERROR(read_spatial_pair(attrs, dilations_attr, &out->dilation_h, &out->dilation_w));
  }
  return Status::ok();
}

Status resolve_axis(const std::string& where, Padding padding, int64_t in, int64_t window,
                    int64_t stride, int64_t dilation, int64_t explicit_before,
                    int64_t explicit_after, WindowAxis* out) {
  const int64_t effective = (window - 1) * dilation + 1;
  switch (padding) {
    case Padding::kSame: {
      out->out = (in + stride - 1) / stride;
      const int64_t total = std::max<int64_t>((out->out - 1) * stride + effective - in, 0);
      out->pad_before = total / 2;
      out->pad_after = total - total / 2;
      break;
    }
    case Padding::kValid:
      out->pad_before = out->pad_after = 0;
      break;
    case Padding::kExplicit:
      out->pad_before = explicit_before;
      out->pad_after = explicit_after;
      break;
  }
  if (padding != Padding::kSame) {
    const int64_t span = in + out->pad_before + out->pad_after - effective;
    if (span < 0) {
      return invalid_argument(where + "window of " + std::to_string(effective) +
                              " does not fit an input of " + std::to_string(in));
    }
    out->out = span / stride + 1;
  }
  return Status::ok();
}

Status resolve_window(const std::string& where, const WindowAttrs& window, const Shape& in,
                      int64_t kh, int64_t kw, WindowAxis* h, WindowAxis* w) {
  QTF_RETURN_IF_ERROR(resolve_axis(where, window.padding, in[1], kh, window.stride_h,
                                   window.dilation_h, window.pad_top, window.pad_bottom, h));
  return resolve_axis(where, window.padding, in[2], kw, window.stride_w, window.dilation_w,
                      window.pad_left, window.pad_right, w);
}

}  // namespace qtf
