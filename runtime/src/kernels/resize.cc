// Resize helpers.
#include "kernels/resize.h"

namespace qtf {

Status read_resize_flags(const NodeAttrs& attrs, ResizeFlags* flags) {
  QTF_RETURN_IF_ERROR(attrs.get_bool("align_corners", &flags->align_corners));
  QTF_RETURN_IF_ERROR(attrs.get_bool("half_pixel_centers", &flags->half_pixel_centers));
  if (flags->align_corners && flags->half_pixel_centers) {
    return invalid_argument(attrs.where() +
                            "half_pixel_centers and align_corners cannot both be true");
  }
  return Status::ok();
}

Status read_resize_target(const std::string& where, const Tensor& images, const Tensor& size,
                          int64_t* out_h, int64_t* out_w) {
  if (images.rank() != 4) {
    return invalid_argument(where + "images must be rank 4 (NHWC), got " +
                            shape_string(images.shape()));
  }
  if (size.dtype() != TF_INT32 || size.shape() != Shape{2}) {
    return invalid_argument(where + "size must be 2 int32 values, got " + dtype_name(size.dtype()) +
                            shape_string(size.shape()));
  }
  *out_h = size.data<int32_t>()[0];
  *out_w = size.data<int32_t>()[1];
  if (*out_h <= 0 || *out_w <= 0) {
    return invalid_argument(where + "size must be positive, got [" + std::to_string(*out_h) +
                            "," + std::to_string(*out_w) + "]");
  }
  if (images.dim(1) <= 0 || images.dim(2) <= 0) {
    return invalid_argument(where + "cannot resize empty images " + shape_string(images.shape()));
  }
  return Status::ok();
}

float resize_scale(int64_t in, int64_t out, bool align_corners) {
  return (align_corners && out > 1) ? static_cast<float>(in - 1) / static_cast<float>(out - 1)
                                    : static_cast<float>(in) / static_cast<float>(out);
}

}  // namespace qtf
