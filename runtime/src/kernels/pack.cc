// Pack: stacks N tensors of one shape along a new axis.
#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class PackKernel : public OpKernel {
 public:
  PackKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_int("axis", &axis_);
    if (status->is_ok()) *status = attrs.get_type("T", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    const int n = ctx.num_inputs();
    if (n == 0) return invalid_argument(where_ + "nothing to pack");
    const Tensor& first = ctx.input(0);
    for (int i = 0; i < n; ++i) {
      const Tensor& t = ctx.input(i);
      if (t.dtype() != dtype_ || t.shape() != first.shape()) {
        return invalid_argument(where_ + "input " + std::to_string(i) + " is " +
                                dtype_name(t.dtype()) + shape_string(t.shape()) + ", expected " +
                                dtype_name(dtype_) + shape_string(first.shape()));
      }
    }
    if (!is_movable_dtype(dtype_)) {
      return invalid_argument(where_ + "cannot pack " + dtype_name(dtype_) + " tensors");
    }
    int64_t axis = 0;
    QTF_RETURN_IF_ERROR(canonical_axis(axis_, first.rank() + 1, where_, &axis));
    Shape out_shape = first.shape();
    out_shape.insert(out_shape.begin() + axis, n);
    Tensor& out = ctx.allocate_output(0, dtype_, out_shape);
    // Each input contributes `inner` elements to each of `outer` rows.
    int64_t outer = 1;
    for (int64_t d = 0; d < axis; ++d) outer *= first.dim(static_cast<int>(d));
    const int64_t inner = outer == 0 ? 0 : first.num_elements() / outer;
    for (int64_t o = 0; o < outer; ++o) {
      for (int i = 0; i < n; ++i) {
        copy_elements(ctx.input(i), o * inner, out, (o * n + i) * inner, inner);
      }
    }
    return Status::ok();
  }

 private:
  std::string where_;
  int64_t axis_ = 0;
  DataType dtype_ = TF_FLOAT;
};

}  // namespace

QTF_REGISTER_KERNEL("Pack", PackKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Pack"
  input_arg { name: "values" type_attr: "T" number_attr: "N" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "N" type: "int" has_minimum: true minimum: 1 }
  attr { name: "T" type: "type" }
  attr { name: "axis" type: "int" default_value { i: 0 } })pb");

}  // namespace qtf
