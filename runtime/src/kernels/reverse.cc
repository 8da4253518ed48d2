// ReverseV2: the input with the listed axes reversed (negative axes count
// from the end; an axis listed twice is an error, as in TensorFlow).
#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class ReverseV2Kernel : public OpKernel {
 public:
  ReverseV2Kernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot reverse " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> axes;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "axis", &axes));
    std::vector<bool> flip(static_cast<size_t>(in.rank()), false);
    for (int64_t a : axes) {
      int64_t axis = 0;
      QTF_RETURN_IF_ERROR(canonical_axis(a, in.rank(), where_, &axis));
      if (flip[static_cast<size_t>(axis)]) {
        return invalid_argument(where_ + "axis " + std::to_string(a) + " specified more than once");
      }
      flip[static_cast<size_t>(axis)] = true;
    }
    std::vector<std::vector<int64_t>> maps(flip.size());
    for (size_t d = 0; d < flip.size(); ++d) {
      const int64_t n = in.shape()[d];
      for (int64_t i = 0; i < n; ++i) maps[d].push_back(flip[d] ? n - 1 - i : i);
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), in.shape());
    gather_by_axis_maps(in, maps, nullptr, out);
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("ReverseV2", ReverseV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ReverseV2"
  input_arg { name: "tensor" type_attr: "T" }
  input_arg { name: "axis" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
