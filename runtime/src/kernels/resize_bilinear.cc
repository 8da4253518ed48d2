// ResizeBilinear: bilinear interpolation of NHWC images to `size`; the
// output is float whatever the input type.
#include <cmath>
#include <mutex>
#include <vector>

#include "kernels/dtype_dispatch.h"
#include "kernels/resize.h"

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
void resize(const void* xv, float* y, int64_t n, int64_t h, int64_t w, int64_t c,
            const std::vector<Taps>& ys, const std::vector<Taps>& xs) {
  const T* x = static_cast<const T*>(xv);
  const int64_t ow = static_cast<int64_t>(xs.size());
  for (int64_t b = 0; b < n; ++b) {
    const T* image = x + b * h * w * c;
    for (const Taps& ty : ys) {
      const T* top = image + ty.lo * w * c;
      const T* bottom = image + ty.hi * w * c;
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
}

class ResizeBilinearKernel : public OpKernel {
 public:
  ResizeBilinearKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = read_resize_flags(attrs, &flags_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) { loop_ = &resize<typename decltype(tag)::type>; });
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
    std::lock_guard<std::mutex> lock(mu_);  // guards the cached taps
    const int64_t h = images.dim(1), w = images.dim(2);
    if (h != in_h_ || w != in_w_ || oh != static_cast<int64_t>(ys_.size()) ||
        ow != static_cast<int64_t>(xs_.size())) {
      ys_ = make_taps(h, oh, flags_);
      xs_ = make_taps(w, ow, flags_);
      in_h_ = h;
      in_w_ = w;
    }
    Tensor& out = ctx.allocate_output(0, TF_FLOAT, {images.dim(0), oh, ow, images.dim(3)});
    loop_(images.raw(), out.data<float>(), images.dim(0), h, w, images.dim(3), ys_, xs_);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  ResizeFlags flags_;
  void (*loop_)(const void*, float*, int64_t, int64_t, int64_t, int64_t,
                const std::vector<Taps>&, const std::vector<Taps>&) = nullptr;
  std::mutex mu_;
  int64_t in_h_ = -1, in_w_ = -1;
  std::vector<Taps> ys_, xs_;
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
