// LeakyRelu: activations = features, or alpha * features below zero.
#include "core/kernel.h"

namespace qtf {
namespace {

template <typename T>
void leaky(const void* xv, void* yv, int64_t n, float alpha) {
  const T* x = static_cast<const T*>(xv);
  T* y = static_cast<T*>(yv);
  const T a = static_cast<T>(alpha);
  for (int64_t i = 0; i < n; ++i) y[i] = x[i] > T(0) ? x[i] : a * x[i];
}

class LeakyReluKernel : public OpKernel {
 public:
  LeakyReluKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_float("alpha", &alpha_);
    if (!status->is_ok()) return;
    if (dtype_ == TF_FLOAT) loop_ = &leaky<float>;
    else if (dtype_ == TF_DOUBLE) loop_ = &leaky<double>;
    else *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(x.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    Tensor y = x.is_sole_owner() ? x : Tensor::allocate(dtype_, x.shape());
    loop_(x.raw(), y.raw(), x.num_elements(), alpha_);
    ctx.set_output(0, std::move(y));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  float alpha_ = 0.2f;
  void (*loop_)(const void*, void*, int64_t, float) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("LeakyRelu", LeakyReluKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "LeakyRelu"
  input_arg { name: "features" type_attr: "T" }
  output_arg { name: "activations" type_attr: "T" }
  attr { name: "alpha" type: "float" default_value { f: 0.2 } }
  attr { name: "T" type: "type" default_value { type: DT_FLOAT } })pb");

}  // namespace qtf
