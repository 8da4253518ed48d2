// Squeeze: drops size-1 dimensions (all of them, or those in squeeze_dims).
#include <set>

#include "core/kernel.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

class SqueezeKernel : public OpKernel {
 public:
  SqueezeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_int_list("squeeze_dims", &axes_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    std::set<int64_t> drop;
    for (int64_t a : axes_) {
      int64_t axis = 0;
      QTF_RETURN_IF_ERROR(canonical_axis(a, in.rank(), where_, &axis));
      if (in.dim(static_cast<int>(axis)) != 1) {
        return invalid_argument(where_ + "cannot squeeze dimension " + std::to_string(a) +
                                " of shape " + shape_string(in.shape()));
      }
      drop.insert(axis);
    }
    Shape out;
    for (int d = 0; d < in.rank(); ++d) {
      const bool squeeze = axes_.empty() ? in.dim(d) == 1 : drop.count(d) > 0;
      if (!squeeze) out.push_back(in.dim(d));
    }
    ctx.set_output(0, in.reshaped(out));
    return Status::ok();
  }

 private:
  std::string where_;
  std::vector<int64_t> axes_;
};

}  // namespace

QTF_REGISTER_KERNEL("Squeeze", SqueezeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Squeeze"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "squeeze_dims" type: "list(int)" default_value { list {} }
         has_minimum: true })pb");

}  // namespace qtf
