// Softmax over the last axis: exp(x - max) / sum, stable for large logits.
#include <cmath>

#include "core/kernel.h"

namespace qtf {
namespace {

template <typename T>
void softmax(const void* xv, void* yv, int64_t rows, int64_t n) {
  const T* x = static_cast<const T*>(xv);
  T* y = static_cast<T*>(yv);
  for (int64_t r = 0; r < rows; ++r) {
    const T* xr = x + r * n;
    T* yr = y + r * n;
    T top = xr[0];
    for (int64_t i = 1; i < n; ++i) top = xr[i] > top ? xr[i] : top;
    T sum = 0;
    for (int64_t i = 0; i < n; ++i) {
      yr[i] = std::exp(xr[i] - top);
      sum += yr[i];
    }
    const T scale = T(1) / sum;
    for (int64_t i = 0; i < n; ++i) yr[i] *= scale;
  }
}

class SoftmaxKernel : public OpKernel {
 public:
  SoftmaxKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    if (dtype_ == TF_FLOAT) loop_ = &softmax<float>;
    else if (dtype_ == TF_DOUBLE) loop_ = &softmax<double>;
    else *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& logits = ctx.input(0);
    if (logits.dtype() != dtype_ || logits.rank() < 1) {
      return invalid_argument(where_ + "logits must be a " + dtype_name(dtype_) +
                              " tensor of rank 1 or more, got " + dtype_name(logits.dtype()) +
                              shape_string(logits.shape()));
    }
    const int64_t n = logits.dim(logits.rank() - 1);
    Tensor out = logits.is_sole_owner() ? logits : Tensor::allocate(dtype_, logits.shape());
    if (n > 0) loop_(logits.raw(), out.raw(), logits.num_elements() / n, n);
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  void (*loop_)(const void*, void*, int64_t, int64_t) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("Softmax", SoftmaxKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Softmax"
  input_arg { name: "logits" type_attr: "T" }
  output_arg { name: "softmax" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
