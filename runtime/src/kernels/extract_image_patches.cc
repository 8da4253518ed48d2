// ExtractImagePatches: every ksize window of an NHWC image (sampled every
// `rates` pixels, placed every `strides`) flattened into the depth axis in
// (row, column, channel) order; positions in SAME padding read as zero.
#include <cstring>
#include <string>

#include "core/kernel.h"
#include "kernels/parallel.h"
#include "kernels/window.h"

namespace qtf {
namespace {

class ExtractImagePatchesKernel : public OpKernel {
 public:
  ExtractImagePatchesKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    std::string padding;
    *status = read_spatial_pair(attrs, "ksizes", &kh_, &kw_);
    if (status->is_ok()) *status = read_spatial_pair(attrs, "strides", &sh_, &sw_);
    if (status->is_ok()) *status = read_spatial_pair(attrs, "rates", &rh_, &rw_);
    if (status->is_ok()) *status = attrs.get_string("padding", &padding);
    if (!status->is_ok()) return;
    if (padding == "SAME") {
      padding_ = Padding::kSame;
    } else if (padding != "VALID") {
      *status = invalid_argument(where_ + "unknown padding '" + padding + "'");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.rank() != 4 || dtype_size(x.dtype()) == 0) {
      return invalid_argument(where_ + "images must be a rank-4 numeric tensor, got " +
                              dtype_name(x.dtype()) + shape_string(x.shape()));
    }
    const int64_t n = x.dim(0), h = x.dim(1), w = x.dim(2), c = x.dim(3);
    WindowAxis ay, ax;
    QTF_RETURN_IF_ERROR(resolve_axis(where_, padding_, h, kh_, sh_, rh_, 0, 0, &ay));
    QTF_RETURN_IF_ERROR(resolve_axis(where_, padding_, w, kw_, sw_, rw_, 0, 0, &ax));
    Tensor& y = ctx.allocate_output(0, x.dtype(), {n, ay.out, ax.out, kh_ * kw_ * c});
    if (y.num_elements() == 0) return Status::ok();
    const size_t pixel = static_cast<size_t>(c) * dtype_size(x.dtype());
    const char* src = static_cast<const char*>(x.raw());
    char* dst = static_cast<char*>(y.raw());
    const int64_t rows = n * ay.out;
    parallel_for(rows, y.num_elements(), [&](int64_t begin, int64_t end) {
      for (int64_t r = begin; r < end; ++r) {
        const int64_t b = r / ay.out, oy = r % ay.out;
        char* out = dst + static_cast<size_t>(r * ax.out * kh_ * kw_) * pixel;
        for (int64_t ox = 0; ox < ax.out; ++ox) {
          for (int64_t ky = 0; ky < kh_; ++ky) {
            const int64_t iy = oy * sh_ - ay.pad_before + ky * rh_;
            for (int64_t kx = 0; kx < kw_; ++kx, out += pixel) {
              const int64_t ix = ox * sw_ - ax.pad_before + kx * rw_;
              if (iy < 0 || iy >= h || ix < 0 || ix >= w) {
                std::memset(out, 0, pixel);
              } else {
                std::memcpy(out, src + static_cast<size_t>((b * h + iy) * w + ix) * pixel, pixel);
              }
            }
          }
        }
      }
    });
    return Status::ok();
  }

 private:
  std::string where_;
  Padding padding_ = Padding::kValid;
  int64_t kh_ = 1, kw_ = 1, sh_ = 1, sw_ = 1, rh_ = 1, rw_ = 1;
};

}  // namespace

QTF_REGISTER_KERNEL("ExtractImagePatches", ExtractImagePatchesKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ExtractImagePatches"
  input_arg { name: "images" type_attr: "T" }
  output_arg { name: "patches" type_attr: "T" }
  attr { name: "ksizes" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "strides" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "rates" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_BFLOAT16, DT_HALF, DT_FLOAT,
         DT_DOUBLE, DT_INT8, DT_INT16, DT_INT32, DT_INT64, DT_UINT8, DT_UINT16, DT_UINT32,
         DT_UINT64, DT_COMPLEX64, DT_COMPLEX128, DT_BOOL] } } }
  attr { name: "padding" type: "string" allowed_values { list { s: ["SAME", "VALID"] } } })pb");

}  // namespace qtf
