// Pad, PadV2 (constant padding) and MirrorPad (REFLECT / SYMMETRIC). One
// file: all three read the same [rank, 2] paddings and differ in what the
// border holds.
#include <string>

#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

enum class PadMode { kConstant, kReflect, kSymmetric };

class PadKernel : public OpKernel {
 public:
  PadKernel(const NodeAttrs& attrs, Status* status, PadMode mode, bool has_value)
      : where_(attrs.where()), mode_(mode), has_value_(has_value) {
    if (mode_ == PadMode::kConstant) return;
    std::string m;
    *status = attrs.get_string("mode", &m);
    if (!status->is_ok()) return;
    if (m == "REFLECT") mode_ = PadMode::kReflect;
    else if (m == "SYMMETRIC") mode_ = PadMode::kSymmetric;
    else *status = invalid_argument(where_ + "unknown mode '" + m + "'");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot pad " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> pads;
    const Tensor& paddings = ctx.input(1);
    QTF_RETURN_IF_ERROR(read_index_vector(paddings.reshaped({paddings.num_elements()}), where_,
                                          "paddings", &pads));
    if (paddings.shape() != Shape{in.rank(), 2}) {
      return invalid_argument(where_ + "paddings must have shape [" + std::to_string(in.rank()) +
                              ",2], got " + shape_string(paddings.shape()));
    }
    std::vector<std::vector<int64_t>> maps(static_cast<size_t>(in.rank()));
    Shape out_shape;
    for (int d = 0; d < in.rank(); ++d) {
      const int64_t before = pads[static_cast<size_t>(2 * d)];
      const int64_t after = pads[static_cast<size_t>(2 * d + 1)];
      const int64_t n = in.dim(d);
      if (before < 0 || after < 0) {
        return invalid_argument(where_ + "paddings must not be negative");
      }
      if (mode_ != PadMode::kConstant) {
        // REFLECT leaves out the edge pixel, so it can mirror at most n-1.
        const int64_t limit = mode_ == PadMode::kReflect ? n - 1 : n;
        if (before > limit || after > limit) {
          return invalid_argument(where_ + "paddings of dimension " + std::to_string(d) +
                                  " must be at most " + std::to_string(limit));
        }
      }
      out_shape.push_back(before + n + after);
      auto& map = maps[static_cast<size_t>(d)];
      for (int64_t i = -before; i < n + after; ++i) map.push_back(source(i, n));
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), out_shape);
    if (in.dtype() == TF_STRING) {
      std::string fill;
      if (has_value_) QTF_RETURN_IF_ERROR(scalar_of(ctx.input(2), in.dtype()));
      if (has_value_) fill = ctx.input(2).string_values()[0];
      gather_by_axis_maps(in, maps, &fill, out);
      return Status::ok();
    }
    alignas(8) char zero[16] = {};
    const void* fill = zero;
    if (has_value_) {
      QTF_RETURN_IF_ERROR(scalar_of(ctx.input(2), in.dtype()));
      fill = ctx.input(2).raw();
    }
    gather_by_axis_maps(in, maps, fill, out);
    return Status::ok();
  }

 private:
  // Input index shown at padded position i (may be outside [0, n)).
  int64_t source(int64_t i, int64_t n) const {
    if (i >= 0 && i < n) return i;
    switch (mode_) {
      case PadMode::kConstant: return -1;
      case PadMode::kReflect: return i < 0 ? -i : 2 * (n - 1) - i;
      case PadMode::kSymmetric: return i < 0 ? -i - 1 : 2 * n - 1 - i;
    }
    return -1;
  }

  Status scalar_of(const Tensor& v, DataType dtype) const {
    if (v.dtype() != dtype || v.num_elements() != 1 || v.rank() != 0) {
      return invalid_argument(where_ + "constant_values must be a " + dtype_name(dtype) +
                              " scalar");
    }
    return Status::ok();
  }

  std::string where_;
  PadMode mode_;
  bool has_value_;
};

struct PadV1Kernel : PadKernel {
  PadV1Kernel(const NodeAttrs& a, Status* s) : PadKernel(a, s, PadMode::kConstant, false) {}
};
struct PadV2Kernel : PadKernel {
  PadV2Kernel(const NodeAttrs& a, Status* s) : PadKernel(a, s, PadMode::kConstant, true) {}
};
struct MirrorPadKernel : PadKernel {
  MirrorPadKernel(const NodeAttrs& a, Status* s) : PadKernel(a, s, PadMode::kReflect, false) {}
};

}  // namespace

QTF_REGISTER_KERNEL("Pad", PadV1Kernel);
QTF_REGISTER_KERNEL("PadV2", PadV2Kernel);
QTF_REGISTER_KERNEL("MirrorPad", MirrorPadKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Pad"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "paddings" type_attr: "Tpaddings" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tpaddings" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "PadV2"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "paddings" type_attr: "Tpaddings" }
  input_arg { name: "constant_values" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tpaddings" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "MirrorPad"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "paddings" type_attr: "Tpaddings" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tpaddings" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "mode" type: "string" allowed_values { list { s: ["REFLECT", "SYMMETRIC"] } } })pb");

}  // namespace qtf
