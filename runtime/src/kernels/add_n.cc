// AddN: the element-wise sum of N tensors of one shape (no broadcasting, as
// in TensorFlow). Written into the first input's buffer when nothing else
// holds it.
#include <cstring>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/parallel.h"

namespace qtf {
namespace {

template <typename T>
void accumulate(const Tensor& x, Tensor& sum) {
  const T* a = x.data<T>();
  T* s = sum.data<T>();
  const int64_t n = sum.num_elements();
  parallel_for(n, n, [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) s[i] = static_cast<T>(s[i] + a[i]);
  });
}

class AddNKernel : public OpKernel {
 public:
  AddNKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) { add_ = &accumulate<typename decltype(tag)::type>; });
    if (add_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& first = ctx.input(0);
    for (int i = 0; i < ctx.num_inputs(); ++i) {
      const Tensor& x = ctx.input(i);
      if (x.dtype() != dtype_ || x.shape() != first.shape()) {
        return invalid_argument(where_ + "input " + std::to_string(i) + " is " +
                                dtype_name(x.dtype()) + shape_string(x.shape()) + ", expected " +
                                dtype_name(dtype_) + shape_string(first.shape()));
      }
    }
    Tensor sum = first;
    if (!first.is_sole_owner() && ctx.num_inputs() > 1) {
      // Input 0 is shared: sum into a copy of it.
      sum = Tensor::allocate(dtype_, first.shape());
      if (sum.byte_size() > 0) std::memcpy(sum.raw(), first.raw(), sum.byte_size());
    }
    for (int i = 1; i < ctx.num_inputs(); ++i) add_(ctx.input(i), sum);
    ctx.set_output(0, std::move(sum));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  void (*add_)(const Tensor&, Tensor&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("AddN", AddNKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "AddN"
  input_arg { name: "inputs" type_attr: "T" number_attr: "N" }
  output_arg { name: "sum" type_attr: "T" }
  attr { name: "N" type: "int" has_minimum: true minimum: 1 }
  attr { name: "T" type: "type" }
  is_aggregate: true
  is_commutative: true)pb");

}  // namespace qtf
