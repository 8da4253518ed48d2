// Tile: repeats the input `multiples[d]` times along each axis.
#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class TileKernel : public OpKernel {
 public:
  TileKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot tile " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> multiples;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "multiples", &multiples));
    if (multiples.size() != static_cast<size_t>(in.rank())) {
      return invalid_argument(where_ + "multiples " + shape_string(multiples) +
                              " must have one entry per dimension of " + shape_string(in.shape()));
    }
    std::vector<std::vector<int64_t>> maps(multiples.size());
    Shape out_shape;
    for (size_t d = 0; d < multiples.size(); ++d) {
      if (multiples[d] < 0) {
        return invalid_argument(where_ + "multiples " + shape_string(multiples) + " are negative");
      }
      const int64_t n = in.shape()[d];
      out_shape.push_back(n * multiples[d]);
      for (int64_t i = 0; i < n * multiples[d]; ++i) maps[d].push_back(i % n);
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), out_shape);
    gather_by_axis_maps(in, maps, nullptr, out);
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("Tile", TileKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Tile"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "multiples" type_attr: "Tmultiples" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tmultiples" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
