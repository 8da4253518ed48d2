// ScaleAndTranslate: resamples NHWC images to `size` with an interpolation
// kernel, output float. Output pixel x of an axis samples the input at
// ((x + 0.5) - translation) / scale in continuous coordinates (pixel i
// covers [i, i + 1)); source pixel i weighs kernel(i + 0.5 - sample). When
// antialiasing a downscale the kernel is stretched by 1 / scale so every
// source pixel contributes. Each output's weights are normalised to sum to
// one; a sample outside [0, size] gives 0. The two axes are separable: each
// output row is first interpolated along H, then along W, in float.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/parallel.h"
#include "kernels/resize.h"
#include "kernels/sampling_kernel.h"

namespace qtf {
namespace {

// The source pixels and weights of every output coordinate along one axis:
// output i reads count[i] pixels from start[i], weights from offset[i].
struct AxisSpans {
  std::vector<int64_t> start, count;
  std::vector<size_t> offset;
  std::vector<float> weight;
};

AxisSpans axis_spans(SamplingKernelType type, bool antialias, int64_t in, int64_t out,
                     float scale, float translation) {
  const float inv_scale = 1.f / scale;
  const float kernel_scale = antialias ? std::max(inv_scale, 1.f) : 1.f;
  const float inv_kernel_scale = 1.f / kernel_scale;
  const float reach = sampling_kernel_radius(type) * kernel_scale;
  const float in_f = static_cast<float>(in);
  AxisSpans spans;
  spans.start.assign(static_cast<size_t>(out), 0);
  spans.count.assign(static_cast<size_t>(out), 0);
  spans.offset.assign(static_cast<size_t>(out), 0);
  std::vector<float> taps;
  for (int64_t x = 0; x < out; ++x) {
    const size_t i = static_cast<size_t>(x);
    spans.offset[i] = spans.weight.size();
    const float sample = (static_cast<float>(x) + 0.5f) * inv_scale - translation * inv_scale;
    if (!(sample >= 0.f && sample <= in_f)) continue;
    // Clamped in float first: a tiny scale makes the reach too large for int64.
    const float first = std::ceil(sample - reach - 0.5f), last = std::floor(sample + reach - 0.5f);
    const int64_t begin = static_cast<int64_t>(std::min(std::max(first, 0.f), in_f - 1));
    const int64_t end = static_cast<int64_t>(std::min(std::max(last, 0.f), in_f - 1)) + 1;
    taps.clear();
    float total = 0.f;
    for (int64_t s = begin; s < end; ++s) {
      const float w =
          sampling_kernel_weight(type, (static_cast<float>(s) + 0.5f - sample) * inv_kernel_scale);
      taps.push_back(w);
      total += w;
    }
    // Weights that cancel out leave the output at 0 rather than blowing up.
    if (std::fabs(total) < 1000.f * std::numeric_limits<float>::min()) continue;
    spans.start[i] = begin;
    spans.count[i] = end - begin;
    const float inv_total = 1.f / total;
    for (float w : taps) spans.weight.push_back(w * inv_total);
  }
  return spans;
}

// out[n, oy, ox, c] from images [n, h, w, c]: one output row at a time, its
// H-interpolated source row (w * c floats) in a scratch buffer per range.
template <typename T>
void resample(const void* xv, float* y, int64_t n, int64_t h, int64_t w, int64_t c,
              const AxisSpans& ys, const AxisSpans& xs) {
  const T* x = static_cast<const T*>(xv);
  const int64_t oh = static_cast<int64_t>(ys.start.size());
  const int64_t ow = static_cast<int64_t>(xs.start.size());
  const int64_t row_len = w * c;
  parallel_for(n * oh, n * oh * (ow + w) * c, [&](int64_t begin, int64_t end) {
    std::vector<float> row(static_cast<size_t>(row_len));
    for (int64_t r = begin; r < end; ++r) {
      const size_t oy = static_cast<size_t>(r % oh);
      const T* image = x + (r / oh) * h * row_len;
      std::fill(row.begin(), row.end(), 0.f);
      const float* wy = ys.weight.data() + ys.offset[oy];
      for (int64_t k = 0; k < ys.count[oy]; ++k) {
        const T* src = image + (ys.start[oy] + k) * row_len;
        const float wk = wy[k];
        for (int64_t j = 0; j < row_len; ++j) row[static_cast<size_t>(j)] += wk * static_cast<float>(src[j]);
      }
      float* out = y + r * ow * c;
      for (int64_t ox = 0; ox < ow; ++ox, out += c) {
        const size_t i = static_cast<size_t>(ox);
        std::fill(out, out + c, 0.f);
        const float* wx = xs.weight.data() + xs.offset[i];
        for (int64_t k = 0; k < xs.count[i]; ++k) {
          const float* src = row.data() + (xs.start[i] + k) * c;
          const float wk = wx[k];
          for (int64_t j = 0; j < c; ++j) out[j] += wk * src[j];
        }
      }
    }
  });
}

using ResampleLoop = void (*)(const void*, float*, int64_t, int64_t, int64_t, int64_t,
                              const AxisSpans&, const AxisSpans&);

// Two finite float values, for the scale and translation inputs.
Status read_pair(const std::string& where, const char* what, const Tensor& t, float* a, float* b) {
  if (t.dtype() != TF_FLOAT || t.shape() != Shape{2}) {
    return invalid_argument(where + what + " must be 2 float values, got " + dtype_name(t.dtype()) +
                            shape_string(t.shape()));
  }
  *a = t.data<float>()[0];
  *b = t.data<float>()[1];
  if (!std::isfinite(*a) || !std::isfinite(*b)) {
    return invalid_argument(where + what + " must be finite, got [" + std::to_string(*a) + "," +
                            std::to_string(*b) + "]");
  }
  return Status::ok();
}

class ScaleAndTranslateKernel : public OpKernel {
 public:
  ScaleAndTranslateKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    std::string kernel_type;
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_string("kernel_type", &kernel_type);
    if (status->is_ok()) *status = attrs.get_bool("antialias", &antialias_);
    if (!status->is_ok()) return;
    if (!parse_sampling_kernel(kernel_type, &type_)) {
      *status = invalid_argument(where_ + "unknown kernel_type '" + kernel_type +
                                 "' (lanczos1, lanczos3, lanczos5, gaussian, box, triangle, "
                                 "keyscubic or mitchellcubic)");
      return;
    }
    dispatch_numeric(dtype_, [&](auto tag) { loop_ = &resample<typename decltype(tag)::type>; });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& images = ctx.input(0);
    if (images.dtype() != dtype_) {
      return invalid_argument(where_ + "images are " + dtype_name(images.dtype()) +
                              ", expected " + dtype_name(dtype_));
    }
    int64_t oh = 0, ow = 0;
    QTF_RETURN_IF_ERROR(read_resize_target(where_, images, ctx.input(1), &oh, &ow));
    float scale_y = 0, scale_x = 0, shift_y = 0, shift_x = 0;
    QTF_RETURN_IF_ERROR(read_pair(where_, "scale", ctx.input(2), &scale_y, &scale_x));
    QTF_RETURN_IF_ERROR(read_pair(where_, "translation", ctx.input(3), &shift_y, &shift_x));
    if (!(scale_y > 0.f && scale_x > 0.f)) {
      return invalid_argument(where_ + "scale must be positive, got [" + std::to_string(scale_y) +
                              "," + std::to_string(scale_x) + "]");
    }
    const int64_t n = images.dim(0), h = images.dim(1), w = images.dim(2), c = images.dim(3);
    const AxisSpans ys = axis_spans(type_, antialias_, h, oh, scale_y, shift_y);
    const AxisSpans xs = axis_spans(type_, antialias_, w, ow, scale_x, shift_x);
    Tensor& out = ctx.allocate_output(0, TF_FLOAT, {n, oh, ow, c});
    loop_(images.raw(), out.data<float>(), n, h, w, c, ys, xs);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  SamplingKernelType type_ = SamplingKernelType::kLanczos3;
  bool antialias_ = true;
  ResampleLoop loop_ = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("ScaleAndTranslate", ScaleAndTranslateKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ScaleAndTranslate"
  input_arg { name: "images" type_attr: "T" }
  input_arg { name: "size" type: DT_INT32 }
  input_arg { name: "scale" type: DT_FLOAT }
  input_arg { name: "translation" type: DT_FLOAT }
  output_arg { name: "resized_images" type: DT_FLOAT }
  attr {
    name: "T"
    type: "type"
    allowed_values {
      list {
        type: [ DT_INT8, DT_UINT8, DT_INT16, DT_UINT16, DT_INT32, DT_INT64, DT_BFLOAT16,
                DT_HALF, DT_FLOAT, DT_DOUBLE ]
      }
    }
  }
  attr { name: "kernel_type" type: "string" default_value { s: "lanczos3" } }
  attr { name: "antialias" type: "bool" default_value { b: true } })pb");

}  // namespace qtf
