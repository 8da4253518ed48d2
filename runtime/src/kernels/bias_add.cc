// BiasAdd: adds a 1-D bias along the last (channel) axis of an NHWC value.
#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/parallel.h"

namespace qtf {
namespace {

template <typename T>
void add_bias(const void* xv, const void* bv, void* yv, int64_t rows, int64_t channels) {
  const T* x = static_cast<const T*>(xv);
  const T* b = static_cast<const T*>(bv);
  T* y = static_cast<T*>(yv);
  parallel_for(rows, rows * channels, [&](int64_t begin, int64_t end) {
    for (int64_t r = begin; r < end; ++r) {
      const T* xr = x + r * channels;
      T* yr = y + r * channels;
      for (int64_t c = 0; c < channels; ++c) yr[c] = static_cast<T>(xr[c] + b[c]);
    }
  });
}

class BiasAddKernel : public OpKernel {
 public:
  BiasAddKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    const std::string format = attrs.string_or("data_format", "NHWC");
    if (format != "NHWC") {
      *status = unimplemented(where_ + "data_format " + format + " is not supported (NHWC only)");
      return;
    }
    dispatch_numeric(dtype_, [&](auto tag) { loop_ = &add_bias<typename decltype(tag)::type>; });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& value = ctx.input(0);
    const Tensor& bias = ctx.input(1);
    if (value.dtype() != dtype_ || bias.dtype() != dtype_) {
      return invalid_argument(where_ + "inputs must be " + dtype_name(dtype_));
    }
    if (value.rank() < 2 || bias.rank() != 1 || bias.dim(0) != value.dim(value.rank() - 1)) {
      return invalid_argument(where_ + "bias " + shape_string(bias.shape()) +
                              " does not match the last dimension of " +
                              shape_string(value.shape()));
    }
    const int64_t channels = bias.dim(0);
    const int64_t rows = channels == 0 ? 0 : value.num_elements() / channels;
    Tensor out = value.is_sole_owner() ? value : Tensor::allocate(dtype_, value.shape());
    loop_(value.raw(), bias.raw(), out.raw(), rows, channels);
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  void (*loop_)(const void*, const void*, void*, int64_t, int64_t) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("BiasAdd", BiasAddKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "BiasAdd"
  input_arg { name: "value" type_attr: "T" }
  input_arg { name: "bias" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } })pb");

}  // namespace qtf
