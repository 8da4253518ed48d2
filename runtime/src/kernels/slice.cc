// Slice: output = input[begin : begin + size]; a size of -1 takes the rest.
#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class SliceKernel : public OpKernel {
 public:
  SliceKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot slice " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> begin, size;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "begin", &begin));
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(2), where_, "size", &size));
    if (begin.size() != static_cast<size_t>(in.rank()) || size.size() != begin.size()) {
      return invalid_argument(where_ + "begin and size must have one entry per dimension of " +
                              shape_string(in.shape()));
    }
    for (int d = 0; d < in.rank(); ++d) {
      const size_t k = static_cast<size_t>(d);
      if (size[k] == -1) size[k] = in.dim(d) - begin[k];
      if (begin[k] < 0 || size[k] < 0 || begin[k] + size[k] > in.dim(d)) {
        return invalid_argument(where_ + "slice begin " + shape_string(begin) + " size " +
                                shape_string(size) + " is outside " + shape_string(in.shape()));
      }
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), size);
    strided_copy(in, begin, std::vector<int64_t>(begin.size(), 1), size, out);
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("Slice", SliceKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Slice"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "begin" type_attr: "Index" }
  input_arg { name: "size" type_attr: "Index" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Index" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
