// The kernel shape ResizeBilinear and ResizeBicubic share: read the flags,
// check images and size, keep each axis' source taps for the last input and
// output size, and run a per-type loop that writes float output.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kernels/dtype_dispatch.h"
#include "kernels/resize.h"

namespace qtf {

template <typename Taps>
class FloatResizeKernel : public OpKernel {
 public:
  // Source taps of every output coordinate along one axis.
  using MakeTaps = std::vector<Taps> (*)(int64_t in, int64_t out, const ResizeFlags& flags);
  // Writes the [n, oh, ow, c] float output from the [n, h, w, c] images.
  using Loop = void (*)(const void* images, float* out, int64_t n, int64_t h, int64_t w,
                        int64_t c, const std::vector<Taps>& ys, const std::vector<Taps>& xs);
  // The loop for an element type, or null when the type is not supported.
  using SelectLoop = Loop (*)(DataType dtype);

  FloatResizeKernel(const NodeAttrs& attrs, Status* status, MakeTaps make_taps,
                    SelectLoop select)
      : where_(attrs.where()), make_taps_(make_taps) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = read_resize_flags(attrs, &flags_);
    if (!status->is_ok()) return;
    loop_ = select(dtype_);
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
      ys_ = make_taps_(h, oh, flags_);
      xs_ = make_taps_(w, ow, flags_);
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
  MakeTaps make_taps_;
  Loop loop_ = nullptr;
  std::mutex mu_;
  int64_t in_h_ = -1, in_w_ = -1;
  std::vector<Taps> ys_, xs_;
};

// SelectLoop over the numeric types for a loop template L<T>.
template <typename Taps, template <typename> class L>
typename FloatResizeKernel<Taps>::Loop numeric_resize_loop(DataType dtype) {
  typename FloatResizeKernel<Taps>::Loop loop = nullptr;
  dispatch_numeric(dtype, [&](auto tag) { loop = &L<typename decltype(tag)::type>::run; });
  return loop;
}

}  // namespace qtf
