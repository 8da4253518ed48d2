// Window geometry.
#include "kernels/window.h"

namespace qtf {
namespace {

// The data_format names of a layout with `spatial_rank` spatial axes.
std::string format_name(int spatial_rank, bool channels_first) {
  const std::string spatial = spatial_rank == 3 ? "DHW" : "HW";
  return channels_first ? "NC" + spatial : "N" + spatial + "C";
}

// A list attribute with one entry per data axis in data_format order: the
// batch and channel entries must be 1, the spatial ones at least 1.
Status read_spatial_list(const NodeAttrs& attrs, const char* name, int spatial_rank,
                         bool channels_first, std::vector<int64_t>* out) {
  std::vector<int64_t> v;
  QTF_RETURN_IF_ERROR(attrs.get_int_list(name, &v));
  const size_t first = channels_first ? 2 : 1;
  bool fits = v.size() == static_cast<size_t>(spatial_rank) + 2 && v[0] == 1 &&
              v[channels_first ? 1 : v.size() - 1] == 1;
  for (size_t k = 0; fits && k < static_cast<size_t>(spatial_rank); ++k) fits = v[first + k] >= 1;
  if (!fits) {
    const std::string letters = spatial_rank == 3 ? "dhw" : "hw";
    std::string spatial;
    for (char c : letters) spatial += std::string(spatial.empty() ? "" : ", ") + c;
    const std::string pattern = channels_first ? "[1, 1, " + spatial + "]" : "[1, " + spatial + ", 1]";
    return invalid_argument(attrs.where() + name + " must be " + pattern + " with " + spatial +
                            " >= 1, got " + shape_string(v));
  }
  out->assign(v.begin() + static_cast<std::ptrdiff_t>(first),
              v.begin() + static_cast<std::ptrdiff_t>(first) + spatial_rank);
  return Status::ok();
}

// explicit_paddings: a (before, after) pair per data axis in data_format
// order, zero on the batch and channel axes.
Status read_explicit_paddings(const NodeAttrs& attrs, WindowAttrs* out) {
  std::vector<int64_t> p;
  QTF_RETURN_IF_ERROR(attrs.get_int_list("explicit_paddings", &p));
  const int rank = out->spatial_rank() + 2;
  const size_t c = static_cast<size_t>(out->channel_index());
  if (p.size() != static_cast<size_t>(2 * rank) || p[0] != 0 || p[1] != 0 || p[2 * c] != 0 ||
      p[2 * c + 1] != 0) {
    return invalid_argument(attrs.where() + "explicit_paddings must hold " +
                            std::to_string(2 * rank) +
                            " values with zero batch and channel padding, got " + shape_string(p));
  }
  for (int64_t v : p) {
    if (v < 0) return invalid_argument(attrs.where() + "explicit_paddings must not be negative");
  }
  out->pad_before.clear();
  out->pad_after.clear();
  for (int k = 0; k < out->spatial_rank(); ++k) {
    const size_t axis = static_cast<size_t>(out->spatial_index(k));
    out->pad_before.push_back(p[2 * axis]);
    out->pad_after.push_back(p[2 * axis + 1]);
  }
  return Status::ok();
}

}  // namespace

Status read_spatial_pair(const NodeAttrs& attrs, const char* name, int64_t* h, int64_t* w) {
  std::vector<int64_t> v;
  QTF_RETURN_IF_ERROR(read_spatial_list(attrs, name, 2, false, &v));
  *h = v[0];
  *w = v[1];
  return Status::ok();
}

Status read_window_attrs(const NodeAttrs& attrs, const char* dilations_attr, WindowAttrs* out,
                         const WindowForm& form) {
  const std::string channels_last = format_name(form.spatial_rank, false);
  const std::string channels_first = format_name(form.spatial_rank, true);
  const std::string format = attrs.string_or("data_format", channels_last);
  if (format == channels_first && form.channels_first_allowed) {
    out->channels_first = true;
  } else if (format == channels_last) {
    out->channels_first = false;
  } else {
    return unimplemented(attrs.where() + "data_format " + format + " is not supported (" +
                         channels_last + (form.channels_first_allowed ? " or " + channels_first : " only") +
                         ")");
  }
  QTF_RETURN_IF_ERROR(
      read_spatial_list(attrs, "strides", form.spatial_rank, out->channels_first, &out->strides));
  if (dilations_attr != nullptr) {
    QTF_RETURN_IF_ERROR(read_spatial_list(attrs, dilations_attr, form.spatial_rank,
                                          out->channels_first, &out->dilations));
  } else {
    out->dilations.assign(static_cast<size_t>(form.spatial_rank), 1);
  }
  std::string padding;
  QTF_RETURN_IF_ERROR(attrs.get_string("padding", &padding));
  if (padding == "SAME") {
    out->padding = Padding::kSame;
  } else if (padding == "VALID") {
    out->padding = Padding::kValid;
  } else if (padding == "EXPLICIT" && form.explicit_allowed) {
    out->padding = Padding::kExplicit;
    QTF_RETURN_IF_ERROR(read_explicit_paddings(attrs, out));
  } else {
    return invalid_argument(attrs.where() + "unknown padding '" + padding + "'");
  }
  if (out->padding != Padding::kExplicit) {
    out->pad_before.assign(static_cast<size_t>(form.spatial_rank), 0);
    out->pad_after.assign(static_cast<size_t>(form.spatial_rank), 0);
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
                      const std::vector<int64_t>& size, std::vector<WindowAxis>* out) {
  out->assign(size.size(), WindowAxis());
  for (size_t k = 0; k < size.size(); ++k) {
    QTF_RETURN_IF_ERROR(resolve_axis(where, window.padding, in[window.spatial_index(static_cast<int>(k))],
                                     size[k], window.strides[k], window.dilations[k],
                                     window.pad_before[k], window.pad_after[k], &(*out)[k]));
  }
  return Status::ok();
}

}  // namespace qtf
