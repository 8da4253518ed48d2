// BroadcastTo: the input repeated along its size-1 (or missing leading)
// dimensions to exactly `shape`.
#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class BroadcastToKernel : public OpKernel {
 public:
  BroadcastToKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot broadcast " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> shape;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "shape", &shape));
    const size_t rank = shape.size();
    bool fits = static_cast<size_t>(in.rank()) <= rank;
    Shape padded(rank, 1);
    for (size_t k = 0; fits && k < static_cast<size_t>(in.rank()); ++k) {
      padded[rank - 1 - k] = in.shape()[in.shape().size() - 1 - k];
    }
    std::vector<std::vector<int64_t>> maps(rank);
    for (size_t d = 0; fits && d < rank; ++d) {
      fits = shape[d] >= 0 && (padded[d] == shape[d] || padded[d] == 1);
      for (int64_t i = 0; fits && i < shape[d]; ++i) maps[d].push_back(padded[d] == 1 ? 0 : i);
    }
    if (!fits) {
      return invalid_argument(where_ + "Unable to broadcast tensor of shape " +
                              shape_string(in.shape()) + " to tensor of shape " + shape_string(shape));
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), shape);
    gather_by_axis_maps(in.reshaped(padded), maps, nullptr, out);
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("BroadcastTo", BroadcastToKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "BroadcastTo"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "shape" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
