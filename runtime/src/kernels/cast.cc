// Cast: y = x converted from SrcT to DstT.
//
// Real-to-integer conversion truncates toward zero like TensorFlow, but
// saturates at the target's range and maps NaN to 0 instead of relying on
// undefined behaviour.
#include <cmath>
#include <limits>
#include <type_traits>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace {

template <typename D, typename S>
D convert(S v) {
  if constexpr (std::is_same<D, bool>::value) {
    return v != S(0);
  } else if constexpr (std::is_floating_point<S>::value && std::is_integral<D>::value) {
    if (std::isnan(v)) return D(0);
    if (v <= static_cast<S>(std::numeric_limits<D>::lowest())) return std::numeric_limits<D>::lowest();
    if (v >= static_cast<S>(std::numeric_limits<D>::max())) return std::numeric_limits<D>::max();
    return static_cast<D>(v);
  } else {
    return static_cast<D>(v);
  }
}

template <typename S, typename D>
void cast_loop(const void* xv, void* yv, int64_t n) {
  const S* x = static_cast<const S*>(xv);
  D* y = static_cast<D*>(yv);
  for (int64_t i = 0; i < n; ++i) y[i] = convert<D>(x[i]);
}

class CastKernel : public OpKernel {
 public:
  CastKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("SrcT", &src_);
    if (status->is_ok()) *status = attrs.get_type("DstT", &dst_);
    if (!status->is_ok() || src_ == dst_) return;
    dispatch_with_bool(src_, [&](auto s) {
      dispatch_with_bool(dst_, [&](auto d) {
        loop_ = &cast_loop<typename decltype(s)::type, typename decltype(d)::type>;
      });
    });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "cast from " + dtype_name(src_) + " to " +
                              dtype_name(dst_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != src_) {
      return invalid_argument(where_ + "input is " + dtype_name(x.dtype()) + ", expected " +
                              dtype_name(src_));
    }
    if (src_ == dst_) {
      ctx.set_output(0, x);
      return Status::ok();
    }
    Tensor& y = ctx.allocate_output(0, dst_, x.shape());
    loop_(x.raw(), y.raw(), x.num_elements());
    return Status::ok();
  }

 private:
  std::string where_;
  DataType src_ = TF_FLOAT, dst_ = TF_FLOAT;
  void (*loop_)(const void*, void*, int64_t) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("Cast", CastKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Cast"
  input_arg { name: "x" type_attr: "SrcT" }
  output_arg { name: "y" type_attr: "DstT" }
  attr { name: "SrcT" type: "type" }
  attr { name: "DstT" type: "type" }
  attr { name: "Truncate" type: "bool" default_value { b: false } })pb");

}  // namespace qtf
