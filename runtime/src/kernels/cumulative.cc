// Cumsum and Cumprod along one axis, optionally exclusive (each output
// leaves out its own element) and/or reversed (accumulating from the end).
// Accumulates in T, in order, like TensorFlow's CPU scan.
#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename T, bool kProduct>
void scan(const T* x, T* y, int64_t outer, int64_t n, int64_t inner, bool exclusive, bool reverse) {
  for (int64_t o = 0; o < outer; ++o) {
    for (int64_t i = 0; i < inner; ++i) {
      const int64_t base = o * n * inner + i;
      T acc = kProduct ? T(1) : T(0);
      for (int64_t s = 0; s < n; ++s) {
        const int64_t k = base + (reverse ? n - 1 - s : s) * inner;
        const T v = x[k];
        if (exclusive) y[k] = acc;
        acc = kProduct ? static_cast<T>(acc * v) : static_cast<T>(acc + v);
        if (!exclusive) y[k] = acc;
      }
    }
  }
}

template <bool kProduct>
class CumulativeKernel : public OpKernel {
 public:
  CumulativeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_bool("exclusive", &exclusive_);
    if (status->is_ok()) *status = attrs.get_bool("reverse", &reverse_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) {
      using T = typename decltype(tag)::type;
      loop_ = [](const void* x, void* y, int64_t outer, int64_t n, int64_t inner, bool e, bool r) {
        scan<T, kProduct>(static_cast<const T*>(x), static_cast<T*>(y), outer, n, inner, e, r);
      };
    });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(x.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    int64_t a = 0, axis = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "axis", &a));
    QTF_RETURN_IF_ERROR(canonical_axis(a, x.rank(), where_, &axis));
    int64_t outer = 1, inner = 1;
    for (int d = 0; d < x.rank(); ++d) {
      if (d < axis) outer *= x.dim(d);
      if (d > axis) inner *= x.dim(d);
    }
    Tensor& y = ctx.allocate_output(0, dtype_, x.shape());
    if (y.num_elements() > 0) {
      loop_(x.raw(), y.raw(), outer, x.dim(static_cast<int>(axis)), inner, exclusive_, reverse_);
    }
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  bool exclusive_ = false, reverse_ = false;
  void (*loop_)(const void*, void*, int64_t, int64_t, int64_t, bool, bool) = nullptr;
};

}  // namespace

using CumsumKernel = CumulativeKernel<false>;
using CumprodKernel = CumulativeKernel<true>;
QTF_REGISTER_KERNEL("Cumsum", CumsumKernel);
QTF_REGISTER_KERNEL("Cumprod", CumprodKernel);

#define QTF_CUMULATIVE_OP_DEF(name_text)                                             \
  "name: \"" name_text "\" "                                                        \
  "input_arg { name: \"x\" type_attr: \"T\" } "                                     \
  "input_arg { name: \"axis\" type_attr: \"Tidx\" } "                               \
  "output_arg { name: \"out\" type_attr: \"T\" } "                                  \
  "attr { name: \"exclusive\" type: \"bool\" default_value { b: false } } "         \
  "attr { name: \"reverse\" type: \"bool\" default_value { b: false } } "           \
  "attr { name: \"T\" type: \"type\" } "                                            \
  "attr { name: \"Tidx\" type: \"type\" default_value { type: DT_INT32 } "          \
  "allowed_values { list { type: [DT_INT32, DT_INT64] } } }"
QTF_REGISTER_OP_DEF(QTF_CUMULATIVE_OP_DEF("Cumsum"));
QTF_REGISTER_OP_DEF(QTF_CUMULATIVE_OP_DEF("Cumprod"));
#undef QTF_CUMULATIVE_OP_DEF

}  // namespace qtf
