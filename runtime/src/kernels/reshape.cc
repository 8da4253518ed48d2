// Reshape: the same elements under a new shape; one -1 is inferred.
#include "core/kernel.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

class ReshapeKernel : public OpKernel {
 public:
  ReshapeKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& tensor = ctx.input(0);
    std::vector<int64_t> dims;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "shape", &dims));
    int unknown = -1;
    int64_t known = 1;
    for (size_t i = 0; i < dims.size(); ++i) {
      if (dims[i] == -1) {
        if (unknown >= 0) return invalid_argument(where_ + "only one dimension can be -1");
        unknown = static_cast<int>(i);
      } else if (dims[i] < 0) {
        return invalid_argument(where_ + "dimension " + std::to_string(dims[i]) + " is negative");
      } else {
        known *= dims[i];
      }
    }
    const int64_t n = tensor.num_elements();
    if (unknown >= 0) {
      if (known == 0 || n % known != 0) {
        return invalid_argument(where_ + "cannot reshape " + std::to_string(n) +
                                " elements into " + shape_string(dims));
      }
      dims[static_cast<size_t>(unknown)] = n / known;
    }
    if (num_elements(dims) != n) {
      return invalid_argument(where_ + "cannot reshape a tensor of shape " +
                              shape_string(tensor.shape()) + " into " + shape_string(dims));
    }
    ctx.set_output(0, tensor.reshaped(dims));
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("Reshape", ReshapeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Reshape"
  input_arg { name: "tensor" type_attr: "T" }
  input_arg { name: "shape" type_attr: "Tshape" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tshape" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
