// CropAndResize: for each box [y1, x1, y2, x2] (normalised, so 0 and 1 are
// the first and last pixel centres) a crop_size crop of the box's image,
// sampled bilinearly or at the nearest pixel; samples outside the image
// take extrapolation_value. Output float [boxes, crop_h, crop_w, depth].
#include <cmath>
#include <string>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/parallel.h"

namespace qtf {
namespace {

// Source position of output coordinate i of a box spanning [lo, hi] along
// an axis of `size` pixels, as TensorFlow computes it.
float source(float lo, float hi, int64_t i, int64_t crop, int64_t size) {
  const float last = static_cast<float>(size - 1);
  if (crop <= 1) return 0.5f * (lo + hi) * last;
  return lo * last + static_cast<float>(i) * ((hi - lo) * last / static_cast<float>(crop - 1));
}

template <typename T>
void crop(const void* xv, int64_t h, int64_t w, int64_t c, const float* boxes,
          const int32_t* box_index, int64_t num_boxes, int64_t ch, int64_t cw, bool bilinear,
          float extrapolation, float* y) {
  const T* x = static_cast<const T*>(xv);
  parallel_for(num_boxes * ch, num_boxes * ch * cw * c, [&](int64_t begin, int64_t end) {
    for (int64_t r = begin; r < end; ++r) {
      const int64_t b = r / ch, oy = r % ch;
      const float* box = boxes + 4 * b;
      const T* image = x + box_index[b] * h * w * c;
      float* out = y + r * cw * c;
      const float in_y = source(box[0], box[2], oy, ch, h);
      if (in_y < 0 || in_y > static_cast<float>(h - 1)) {
        for (int64_t i = 0; i < cw * c; ++i) out[i] = extrapolation;
        continue;
      }
      const int64_t top = static_cast<int64_t>(std::floor(in_y));
      const int64_t bottom = static_cast<int64_t>(std::ceil(in_y));
      const float y_lerp = in_y - static_cast<float>(top);
      for (int64_t ox = 0; ox < cw; ++ox, out += c) {
        const float in_x = source(box[1], box[3], ox, cw, w);
        if (in_x < 0 || in_x > static_cast<float>(w - 1)) {
          for (int64_t k = 0; k < c; ++k) out[k] = extrapolation;
          continue;
        }
        if (!bilinear) {
          const T* p = image + (static_cast<int64_t>(std::round(in_y)) * w +
                                static_cast<int64_t>(std::round(in_x))) * c;
          for (int64_t k = 0; k < c; ++k) out[k] = static_cast<float>(p[k]);
          continue;
        }
        const int64_t left = static_cast<int64_t>(std::floor(in_x));
        const int64_t right = static_cast<int64_t>(std::ceil(in_x));
        const float x_lerp = in_x - static_cast<float>(left);
        const T* tl = image + (top * w + left) * c;
        const T* tr = image + (top * w + right) * c;
        const T* bl = image + (bottom * w + left) * c;
        const T* br = image + (bottom * w + right) * c;
        for (int64_t k = 0; k < c; ++k) {
          const float t = static_cast<float>(tl[k]) +
                          (static_cast<float>(tr[k]) - static_cast<float>(tl[k])) * x_lerp;
          const float u = static_cast<float>(bl[k]) +
                          (static_cast<float>(br[k]) - static_cast<float>(bl[k])) * x_lerp;
          out[k] = t + (u - t) * y_lerp;
        }
      }
    }
  });
}

using CropLoop = void (*)(const void*, int64_t, int64_t, int64_t, const float*, const int32_t*,
                          int64_t, int64_t, int64_t, bool, float, float*);

class CropAndResizeKernel : public OpKernel {
 public:
  CropAndResizeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    std::string method;
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_string("method", &method);
    if (status->is_ok()) *status = attrs.get_float("extrapolation_value", &extrapolation_);
    if (!status->is_ok()) return;
    if (method != "bilinear" && method != "nearest") {
      *status = invalid_argument(where_ + "method must be bilinear or nearest, got '" + method + "'");
      return;
    }
    bilinear_ = method == "bilinear";
    dispatch_numeric(dtype_, [&](auto tag) { loop_ = &crop<typename decltype(tag)::type>; });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& image = ctx.input(0);
    const Tensor& boxes = ctx.input(1);
    const Tensor& box_index = ctx.input(2);
    const Tensor& size = ctx.input(3);
    if (image.dtype() != dtype_ || image.rank() != 4 || image.dim(1) <= 0 || image.dim(2) <= 0) {
      return invalid_argument(where_ + "image must be a non-empty rank-4 " + dtype_name(dtype_) +
                              " tensor, got " + dtype_name(image.dtype()) +
                              shape_string(image.shape()));
    }
    const int64_t num_boxes = boxes.rank() == 2 ? boxes.dim(0) : -1;
    if (boxes.dtype() != TF_FLOAT || num_boxes < 0 || boxes.dim(1) != 4 ||
        box_index.dtype() != TF_INT32 || box_index.shape() != Shape{num_boxes}) {
      return invalid_argument(where_ + "boxes must be float [n, 4] and box_ind int32 [n], got " +
                              shape_string(boxes.shape()) + " and " +
                              shape_string(box_index.shape()));
    }
    if (size.dtype() != TF_INT32 || size.shape() != Shape{2} || size.data<int32_t>()[0] <= 0 ||
        size.data<int32_t>()[1] <= 0) {
      return invalid_argument(where_ + "crop_size must be 2 positive int32 values");
    }
    for (int64_t b = 0; b < num_boxes; ++b) {
      const int32_t i = box_index.data<int32_t>()[b];
      if (i < 0 || i >= image.dim(0)) {
        return invalid_argument(where_ + "box_ind " + std::to_string(i) +
                                " is not an image of the batch of " +
                                std::to_string(image.dim(0)));
      }
    }
    const int64_t ch = size.data<int32_t>()[0], cw = size.data<int32_t>()[1];
    Tensor& out = ctx.allocate_output(0, TF_FLOAT, {num_boxes, ch, cw, image.dim(3)});
    loop_(image.raw(), image.dim(1), image.dim(2), image.dim(3), boxes.data<float>(),
          box_index.data<int32_t>(), num_boxes, ch, cw, bilinear_, extrapolation_,
          out.data<float>());
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  bool bilinear_ = true;
  float extrapolation_ = 0.f;
  CropLoop loop_ = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("CropAndResize", CropAndResizeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "CropAndResize"
  input_arg { name: "image" type_attr: "T" }
  input_arg { name: "boxes" type: DT_FLOAT }
  input_arg { name: "box_ind" type: DT_INT32 }
  input_arg { name: "crop_size" type: DT_INT32 }
  output_arg { name: "crops" type: DT_FLOAT }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_UINT8, DT_UINT16, DT_INT8,
         DT_INT16, DT_INT32, DT_INT64, DT_HALF, DT_FLOAT, DT_DOUBLE] } } }
  attr { name: "method" type: "string" default_value { s: "bilinear" }
         allowed_values { list { s: ["bilinear", "nearest"] } } }
  attr { name: "extrapolation_value" type: "float" default_value { f: 0 } })pb");

}  // namespace qtf
