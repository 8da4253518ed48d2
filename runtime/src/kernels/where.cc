// Where with one input: the coordinates of the true (non-zero) elements, as
// an int64 [count, rank] matrix in row-major order.
#include <vector>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace {

template <typename T>
void true_coordinates(const Tensor& in, OpKernelContext& ctx) {
  const T* x = in.data<T>();
  const int64_t total = in.num_elements();
  int64_t count = 0;
  for (int64_t i = 0; i < total; ++i) count += x[i] != T(0) ? 1 : 0;
  const int rank = in.rank();
  int64_t* c = ctx.allocate_output(0, TF_INT64, {count, static_cast<int64_t>(rank)}).data<int64_t>();
  std::vector<int64_t> index(static_cast<size_t>(rank), 0);
  for (int64_t i = 0; i < total; ++i) {
    if (x[i] != T(0)) {
      for (int d = 0; d < rank; ++d) *c++ = index[static_cast<size_t>(d)];
    }
    for (int d = rank - 1; d >= 0; --d) {
      if (++index[static_cast<size_t>(d)] < in.dim(d)) break;
      index[static_cast<size_t>(d)] = 0;
    }
  }
}

class WhereKernel : public OpKernel {
 public:
  WhereKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    dispatch_with_bool(dtype_, [&](auto tag) { loop_ = &true_coordinates<typename decltype(tag)::type>; });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (in.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(in.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    loop_(in, ctx);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_BOOL;
  void (*loop_)(const Tensor&, OpKernelContext&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("Where", WhereKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Where"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "index" type: DT_INT64 }
  attr { name: "T" type: "type" default_value { type: DT_BOOL } })pb");

}  // namespace qtf
