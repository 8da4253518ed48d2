// Range: start, start + delta, ... up to but not including limit. Values
// are accumulated (val += delta) as TensorFlow does, so real sequences match
// its rounding.
#include <cmath>
#include <type_traits>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace {

template <typename T>
Status make_range(const Tensor& start_t, const Tensor& limit_t, const Tensor& delta_t,
                  const std::string& where, OpKernelContext& ctx) {
  const T start = *start_t.data<T>(), limit = *limit_t.data<T>(), delta = *delta_t.data<T>();
  if (delta == T(0)) return invalid_argument(where + "Requires delta != 0: " + std::to_string(delta));
  if (delta > T(0) ? start > limit : start < limit) {
    return invalid_argument(where + "Requires start " + (delta > T(0) ? "<=" : ">=") +
                            " limit when delta " + (delta > T(0) ? "> 0: " : "< 0: ") +
                            std::to_string(start) + "/" + std::to_string(limit));
  }
  int64_t size = 0;
  if constexpr (std::is_integral<T>::value) {
    // In int64 so that limit - start cannot overflow an int32.
    const int64_t span = std::abs(static_cast<int64_t>(limit) - static_cast<int64_t>(start));
    const int64_t step = std::abs(static_cast<int64_t>(delta));
    size = (span + step - 1) / step;
  } else {
    const double n = std::ceil(std::fabs((static_cast<double>(limit) - start) / delta));
    if (!(n < 9.0e18)) return invalid_argument(where + "Requires a finite range");
    size = static_cast<int64_t>(n);
  }
  Tensor& out = ctx.allocate_output(0, dtype_of<T>(), {size});
  T* y = out.data<T>();
  T val = start;
  // No step after the last value: for an integer range ending near the type's
  // limit that step would overflow.
  for (int64_t i = 0; i < size; ++i) {
    y[i] = val;
    if (i + 1 < size) val = static_cast<T>(val + delta);
  }
  return Status::ok();
}

class RangeKernel : public OpKernel {
 public:
  RangeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("Tidx", &dtype_);
    if (!status->is_ok()) return;
    if (dtype_ == TF_FLOAT) run_ = &make_range<float>;
    else if (dtype_ == TF_DOUBLE) run_ = &make_range<double>;
    else if (dtype_ == TF_INT32) run_ = &make_range<int32_t>;
    else if (dtype_ == TF_INT64) run_ = &make_range<int64_t>;
    else *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const char* names[] = {"start", "limit", "delta"};
    for (int i = 0; i < 3; ++i) {
      const Tensor& t = ctx.input(i);
      if (t.dtype() != dtype_ || t.num_elements() != 1 || t.rank() > 1) {
        return invalid_argument(where_ + names[i] + " must be a " + dtype_name(dtype_) +
                                " scalar, got " + dtype_name(t.dtype()) + shape_string(t.shape()));
      }
    }
    return run_(ctx.input(0), ctx.input(1), ctx.input(2), where_, ctx);
  }

 private:
  std::string where_;
  DataType dtype_ = TF_INT32;
  Status (*run_)(const Tensor&, const Tensor&, const Tensor&, const std::string&,
                 OpKernelContext&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("Range", RangeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Range"
  input_arg { name: "start" type_attr: "Tidx" }
  input_arg { name: "limit" type_attr: "Tidx" }
  input_arg { name: "delta" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "Tidx" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_BFLOAT16, DT_HALF, DT_FLOAT, DT_DOUBLE, DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
