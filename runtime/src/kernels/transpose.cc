// Transpose: y[i0, ..., ik] = x[i at perm], i.e. output axis d is input
// axis perm[d].
#include <cstring>

#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

// Walks the output in order; `src_step[d]` is the input stride of output axis d.
template <typename E>
void permute(const E* x, E* y, const Shape& out_shape, const std::vector<int64_t>& src_step) {
  const size_t rank = out_shape.size();
  const int64_t total = num_elements(out_shape);
  const int64_t inner = out_shape[rank - 1];
  const int64_t inner_step = src_step[rank - 1];
  std::vector<int64_t> index(rank, 0);
  int64_t offset = 0;
  for (int64_t done = 0; done < total; done += inner) {
    for (int64_t i = 0; i < inner; ++i) y[done + i] = x[offset + i * inner_step];
    for (size_t d = rank - 1; d-- > 0;) {
      offset += src_step[d];
      if (++index[d] < out_shape[d]) break;
      offset -= src_step[d] * out_shape[d];
      index[d] = 0;
    }
  }
}

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
    bool identity = true;
    for (size_t d = 0; d < rank; ++d) identity = identity && perm[d] == static_cast<int64_t>(d);
    if (identity) {
      ctx.set_output(0, x);
      return Status::ok();
    }
    std::vector<int64_t> in_step(rank, 1);
    for (size_t d = rank - 1; d-- > 0;) in_step[d] = in_step[d + 1] * x.shape()[d + 1];
    Shape out_shape(rank);
    std::vector<int64_t> src_step(rank);
    for (size_t d = 0; d < rank; ++d) {
      out_shape[d] = x.shape()[static_cast<size_t>(perm[d])];
      src_step[d] = in_step[static_cast<size_t>(perm[d])];
    }
    Tensor& y = ctx.allocate_output(0, x.dtype(), out_shape);
    if (y.num_elements() == 0) return Status::ok();
    switch (dtype_size(x.dtype())) {
      case 1: permute(x.data<uint8_t>(), y.data<uint8_t>(), out_shape, src_step); break;
      case 2: permute(x.data<uint16_t>(), y.data<uint16_t>(), out_shape, src_step); break;
      case 4: permute(x.data<uint32_t>(), y.data<uint32_t>(), out_shape, src_step); break;
      case 8: permute(x.data<uint64_t>(), y.data<uint64_t>(), out_shape, src_step); break;
      default:
        return invalid_argument(where_ + "cannot transpose " + dtype_name(x.dtype()) + " tensors");
    }
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
