// ResizeNearestNeighbor: nearest-pixel resize of NHWC images to `size`,
// keeping the element type.
#include <cmath>
#include <mutex>
#include <cstring>
#include <vector>

#include "kernels/parallel.h"
#include "kernels/resize.h"

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

class ResizeNearestNeighborKernel : public OpKernel {
 public:
  ResizeNearestNeighborKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = read_resize_flags(attrs, &flags_);
    if (status->is_ok() && dtype_size(dtype_) == 0) {
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
    const int64_t n = images.dim(0), h = images.dim(1), w = images.dim(2), c = images.dim(3);
    if (h != in_h_ || w != in_w_ || oh != static_cast<int64_t>(ys_.size()) ||
        ow != static_cast<int64_t>(xs_.size())) {
      ys_ = nearest_sources(h, oh, flags_);
      xs_ = nearest_sources(w, ow, flags_);
      in_h_ = h;
      in_w_ = w;
    }
    Tensor& out = ctx.allocate_output(0, dtype_, {n, oh, ow, c});
    // Each output pixel is a copy of one input pixel's c channels.
    const size_t pixel = static_cast<size_t>(c) * dtype_size(dtype_);
    const char* x = static_cast<const char*>(images.raw());
    char* y = static_cast<char*>(out.raw());
    const int64_t rows = n * oh;
    parallel_for(rows, out.num_elements(), [&](int64_t begin, int64_t end) {
      for (int64_t r = begin; r < end; ++r) {
        const int64_t b = r / oh;
        const char* row = x + static_cast<size_t>((b * h + ys_[static_cast<size_t>(r % oh)]) * w) * pixel;
        char* dst = y + static_cast<size_t>(r * ow) * pixel;
        for (int64_t sx : xs_) {
          std::memcpy(dst, row + static_cast<size_t>(sx) * pixel, pixel);
          dst += pixel;
        }
      }
    });
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  ResizeFlags flags_;
  std::mutex mu_;
  int64_t in_h_ = -1, in_w_ = -1;
  std::vector<int64_t> ys_, xs_;
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
