// ClipByValue: output = min(max(t, clip_value_min), clip_value_max). The
// bounds are scalars or tensors of t's shape in TensorFlow; any bound that
// broadcasts to t's shape is taken here. NaN in t stays NaN.
#include "core/kernel.h"
#include "kernels/broadcast.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace {

template <typename T>
void clip(const BroadcastPlan& lo_plan, const BroadcastPlan& hi_plan, const Tensor& t,
          const Tensor& lo, const Tensor& hi, Tensor& out) {
  T* z = out.data<T>();
  broadcast_loop(lo_plan, t.data<T>(), lo.data<T>(), z, [](T x, T l) { return x < l ? l : x; });
  broadcast_loop(hi_plan, static_cast<const T*>(z), hi.data<T>(), z,
                 [](T x, T h) { return h < x ? h : x; });
}

class ClipByValueKernel : public OpKernel {
 public:
  ClipByValueKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) { loop_ = &clip<typename decltype(tag)::type>; });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& t = ctx.input(0);
    const Tensor& lo = ctx.input(1);
    const Tensor& hi = ctx.input(2);
    if (t.dtype() != dtype_ || lo.dtype() != dtype_ || hi.dtype() != dtype_) {
      return invalid_argument(where_ + "inputs must all be " + dtype_name(dtype_));
    }
    BroadcastPlan lo_plan, hi_plan;
    QTF_RETURN_IF_ERROR(bound_plan(t, lo, "clip_value_min", &lo_plan));
    QTF_RETURN_IF_ERROR(bound_plan(t, hi, "clip_value_max", &hi_plan));
    Tensor out = t.is_sole_owner() ? t : Tensor::allocate(dtype_, t.shape());
    loop_(lo_plan, hi_plan, t, lo, hi, out);
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  Status bound_plan(const Tensor& t, const Tensor& bound, const char* what, BroadcastPlan* plan) {
    Status s = make_broadcast_plan(t.shape(), bound.shape(), plan);
    if (!s.is_ok() || plan->out_shape != t.shape()) {
      return invalid_argument(where_ + what + " of shape " + shape_string(bound.shape()) +
                              " does not broadcast to t's shape " + shape_string(t.shape()));
    }
    return Status::ok();
  }

  std::string where_;
  DataType dtype_ = TF_FLOAT;
  void (*loop_)(const BroadcastPlan&, const BroadcastPlan&, const Tensor&, const Tensor&,
                const Tensor&, Tensor&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("ClipByValue", ClipByValueKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ClipByValue"
  input_arg { name: "t" type_attr: "T" }
  input_arg { name: "clip_value_min" type_attr: "T" }
  input_arg { name: "clip_value_max" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
