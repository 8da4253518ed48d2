#include "kernels/control/value_summary.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace qtf {
namespace {

// Shortest of 6 (float) or 15 (double) significant digits that reads back
// exactly, else 9 or 17, as TensorFlow's number formatting does.
template <typename T>
std::string format_real(T v) {
  if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  const bool is_float = sizeof(T) == sizeof(float);
  char buf[40];
  std::snprintf(buf, sizeof(buf), "%.*g", is_float ? 6 : 15, static_cast<double>(v));
  const bool exact = is_float ? std::strtof(buf, nullptr) == static_cast<float>(v)
                              : std::strtod(buf, nullptr) == static_cast<double>(v);
  if (!exact) std::snprintf(buf, sizeof(buf), "%.*g", is_float ? 9 : 17, static_cast<double>(v));
  return buf;
}

// C-style escapes for control characters and quotes; bytes above 0x7f (UTF-8)
// stay as they are.
std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (u < 0x20 || u == 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\%03o", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string element(const Tensor& t, int64_t i) {
  const auto k = static_cast<size_t>(i);
  switch (t.dtype()) {
    case TF_FLOAT: return format_real(t.data<float>()[k]);
    case TF_DOUBLE: return format_real(t.data<double>()[k]);
    case TF_INT32: return std::to_string(t.data<int32_t>()[k]);
    case TF_INT64: return std::to_string(t.data<int64_t>()[k]);
    case TF_INT16: return std::to_string(t.data<int16_t>()[k]);
    case TF_INT8: return std::to_string(t.data<int8_t>()[k]);
    case TF_UINT8: return std::to_string(t.data<uint8_t>()[k]);
    case TF_UINT16: return std::to_string(t.data<uint16_t>()[k]);
    case TF_UINT32: return std::to_string(t.data<uint32_t>()[k]);
    case TF_UINT64: return std::to_string(t.data<uint64_t>()[k]);
    case TF_BOOL: return t.data<uint8_t>()[k] != 0 ? "1" : "0";
    case TF_STRING: return escape(t.string_values()[k]);
    default: return "?";
  }
}

}  // namespace

std::string summarize_value(const Tensor& t, int64_t max_entries) {
  const int64_t n = t.num_elements();
  if (max_entries < 0) max_entries = n;
  const int64_t limit = std::min(max_entries, n);
  std::string out;
  if (t.dtype() == TF_VARIANT || t.dtype() == TF_RESOURCE) {
    for (int64_t i = 0; i < limit; ++i) {
      if (i > 0) out += ' ';
      out += t.dtype() == TF_VARIANT && t.variant_value() != nullptr
                 ? "<" + t.variant_value()->type_name() + ">"
                 : std::string("<resource>");
    }
    if (max_entries < n) out += "...";
    return out;
  }
  if (t.rank() == 0) {
    for (int64_t i = 0; i < limit; ++i) out += element(t, i);
    if (n > limit) out += "...";
    return out;
  }
  // Dimension by dimension: "[" opens only while elements remain to print.
  int64_t next = 0;
  std::function<void(int)> dim = [&](int d) {
    if (next >= limit) return;
    const int64_t count = t.dim(d);
    if (d == t.rank() - 1) {
      for (int64_t i = 0; i < count; ++i) {
        if (next >= limit) {
          if (d != 0) out += "...";
          return;
        }
        if (i > 0) out += ' ';
        out += element(t, next++);
      }
      return;
    }
    for (int64_t i = 0; i < count; ++i) {
      const bool opened = next < limit;
      if (opened) out += '[';
      dim(d + 1);
      if (next < limit || opened) out += ']';
    }
  };
  dim(0);
  if (n > limit) out += "...";
  return out;
}

}  // namespace qtf
