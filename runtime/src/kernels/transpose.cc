// Transpose: y[i0, ..., ik] = x[i at perm], i.e. output axis d is input
// axis perm[d].
#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/permute.h"

namespace qtf {
namespace {

class TransposeKernel : public OpKernel {
 public:
  TransposeKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    std::vector<int64_t> perm;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "perm", &perm));
    const size_t rank = static_cast<size_t>(x.rank());
    std::vector<bool> seen(rank, false);
    bool valid = perm.size() == rank;
    for (size_t d = 0; valid && d < rank; ++d) {
      valid = perm[d] >= 0 && perm[d] < static_cast<int64_t>(rank) && !seen[static_cast<size_t>(perm[d])];
      if (valid) seen[static_cast<size_t>(perm[d])] = true;
    }
    if (!valid) {
      return invalid_argument(where_ + "perm " + shape_string(perm) +
                              " is not a permutation of the axes of " + shape_string(x.shape()));
    }
    if (x.dtype() == TF_STRING || dtype_size(x.dtype()) == 0) {
      return invalid_argument(where_ + "cannot transpose " + dtype_name(x.dtype()) + " tensors");
    }
    ctx.set_output(0, permute_axes(x, perm));
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("Transpose", TransposeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Transpose"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "perm" type_attr: "Tperm" }
  output_arg { name: "y" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tperm" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
