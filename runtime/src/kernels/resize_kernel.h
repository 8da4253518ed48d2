// The kernel shape ResizeBilinear, ResizeBicubic and ResizeNearestNeighbor
// share: read the flags, check images and size, keep each axis' source taps
// for the last input and output size, and run a per-type loop over the
// output rows on the pool.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kernels/dtype_dispatch.h"
#include "kernels/parallel.h"
#include "kernels/resize.h"

namespace qtf {

// One resize call: [n, h, w, c] images in, [n, oh, ow, c] out. Output row r
// is row r % oh of image r / oh.
struct ResizeRows {
  const void* images;
  void* out;
  int64_t h, w, c, oh, ow;
  size_t element_size;  // bytes of one input element
};

template <typename Taps>
class ResizeKernel : public OpKernel {
 public:
  // Source taps of every output coordinate along one axis.
  using MakeTaps = std::vector<Taps> (*)(int64_t in, int64_t out, const ResizeFlags& flags);
  // Writes output rows [begin, end).
  using RowLoop = void (*)(const ResizeRows& rows, const std::vector<Taps>& ys,
                           const std::vector<Taps>& xs, int64_t begin, int64_t end);
  // The loop for an element type, or null when the type is not supported.
  using SelectLoop = RowLoop (*)(DataType dtype);
  // Interpolating resizes write float; nearest-pixel keeps the input's type.
  enum class Output { kFloat, kInputType };

  ResizeKernel(const NodeAttrs& attrs, Status* status, MakeTaps make_taps, SelectLoop select,
               Output output)
      : where_(attrs.where()), make_taps_(make_taps) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = read_resize_flags(attrs, &flags_);
    if (!status->is_ok()) return;
    out_dtype_ = output == Output::kFloat ? TF_FLOAT : dtype_;
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
    const int64_t n = images.dim(0), h = images.dim(1), w = images.dim(2), c = images.dim(3);
    if (h != in_h_ || w != in_w_ || oh != static_cast<int64_t>(ys_.size()) ||
        ow != static_cast<int64_t>(xs_.size())) {
      ys_ = make_taps_(h, oh, flags_);
      xs_ = make_taps_(w, ow, flags_);
      in_h_ = h;
      in_w_ = w;
    }
    Tensor& out = ctx.allocate_output(0, out_dtype_, {n, oh, ow, c});
    const ResizeRows rows{images.raw(), out.raw(), h, w, c, oh, ow, dtype_size(dtype_)};
    parallel_for(n * oh, out.num_elements(), [&](int64_t begin, int64_t end) {
      loop_(rows, ys_, xs_, begin, end);
    });
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  DataType out_dtype_ = TF_FLOAT;
  ResizeFlags flags_;
  MakeTaps make_taps_;
  RowLoop loop_ = nullptr;
  std::mutex mu_;
  int64_t in_h_ = -1, in_w_ = -1;
  std::vector<Taps> ys_, xs_;
};

// SelectLoop over the numeric types for a loop template L<T> with a static
// RowLoop `run`.
template <typename Taps, template <typename> class L>
typename ResizeKernel<Taps>::RowLoop numeric_resize_loop(DataType dtype) {
  typename ResizeKernel<Taps>::RowLoop loop = nullptr;
  dispatch_numeric(dtype, [&](auto tag) { loop = &L<typename decltype(tag)::type>::run; });
  return loop;
}

}  // namespace qtf
