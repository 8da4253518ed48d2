// DepthToSpace and SpaceToDepth (NHWC): blocks of block_size x block_size
// pixels move to and from the channel axis, channel index (row * block +
// column) * C' + c' ("DCR" order). Both are a reshape, a transpose of the
// two middle block axes and a reshape.
#include <string>

#include "core/kernel.h"
#include "kernels/permute.h"

namespace qtf {
namespace {

class DepthSpaceKernel : public OpKernel {
 public:
  DepthSpaceKernel(const NodeAttrs& attrs, Status* status, bool to_space)
      : where_(attrs.where()), to_space_(to_space) {
    *status = attrs.get_int("block_size", &block_);
    if (!status->is_ok()) return;
    const std::string format = attrs.string_or("data_format", "NHWC");
    if (block_ < 2) {
      *status = invalid_argument(where_ + "block_size must be at least 2, got " +
                                 std::to_string(block_));
    } else if (format != "NHWC") {
      *status = unimplemented(where_ + "data_format " + format + " is not supported (NHWC only)");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.rank() != 4 || dtype_size(x.dtype()) == 0) {
      return invalid_argument(where_ + "input must be a rank-4 numeric tensor, got " +
                              dtype_name(x.dtype()) + shape_string(x.shape()));
    }
    const int64_t n = x.dim(0), h = x.dim(1), w = x.dim(2), c = x.dim(3), b = block_;
    if (to_space_) {
      if (c % (b * b) != 0) {
        return invalid_argument(where_ + "depth " + std::to_string(c) +
                                " is not divisible by block_size squared (" +
                                std::to_string(b * b) + ")");
      }
      const int64_t oc = c / (b * b);
      Tensor y = permute_axes(x.reshaped({n, h, w, b, b, oc}), {0, 1, 3, 2, 4, 5});
      ctx.set_output(0, y.reshaped({n, h * b, w * b, oc}));
      return Status::ok();
    }
    if (h % b != 0 || w % b != 0) {
      return invalid_argument(where_ + "height and width of " + shape_string(x.shape()) +
                              " must be divisible by block_size " + std::to_string(b));
    }
    Tensor y = permute_axes(x.reshaped({n, h / b, b, w / b, b, c}), {0, 1, 3, 2, 4, 5});
    ctx.set_output(0, y.reshaped({n, h / b, w / b, b * b * c}));
    return Status::ok();
  }

 private:
  std::string where_;
  bool to_space_;
  int64_t block_ = 2;
};

struct DepthToSpaceKernel : DepthSpaceKernel {
  DepthToSpaceKernel(const NodeAttrs& a, Status* s) : DepthSpaceKernel(a, s, true) {}
};
struct SpaceToDepthKernel : DepthSpaceKernel {
  SpaceToDepthKernel(const NodeAttrs& a, Status* s) : DepthSpaceKernel(a, s, false) {}
};

// Both ops have the same definition apart from the name.
#define QTF_DEPTH_SPACE_OP_DEF(name_text)                                            \
  "name: \"" name_text "\" "                                                       \
  "input_arg { name: \"input\" type_attr: \"T\" } "                                \
  "output_arg { name: \"output\" type_attr: \"T\" } "                              \
  "attr { name: \"T\" type: \"type\" } "                                           \
  "attr { name: \"block_size\" type: \"int\" has_minimum: true minimum: 2 } "      \
  "attr { name: \"data_format\" type: \"string\" default_value { s: \"NHWC\" } "  \
  "       allowed_values { list { s: [\"NHWC\", \"NCHW\", \"NCHW_VECT_C\"] } } }"

}  // namespace

QTF_REGISTER_KERNEL("DepthToSpace", DepthToSpaceKernel);
QTF_REGISTER_KERNEL("SpaceToDepth", SpaceToDepthKernel);
QTF_REGISTER_OP_DEF(QTF_DEPTH_SPACE_OP_DEF("DepthToSpace"));
QTF_REGISTER_OP_DEF(QTF_DEPTH_SPACE_OP_DEF("SpaceToDepth"));

}  // namespace qtf
