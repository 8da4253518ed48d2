// Elementwise binary kernels with broadcasting (Add, Mul, Greater, ...).
//
// An op is a functor template `Op<T>` with `static R apply(T a, T b)` where R
// is T for arithmetic and bool for comparisons, plus `kFloatOnly` to refuse
// integer T at prepare time and the optional flags of op_traits.h. The kernel
// picks the typed loop once, in its constructor, and writes into x's buffer
// when x is not shared and already has the output's shape and type.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/kernel.h"
#include "kernels/broadcast.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/op_traits.h"

namespace qtf {

template <template <typename> class Op>
class BinaryKernel : public OpKernel {
 public:
  BinaryKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    if (BoolOnly<Op>::value) {
      dtype_ = TF_BOOL;
    } else {
      *status = attrs.get_type("T", &dtype_);
      if (!status->is_ok()) return;
    }
    loop_ = pick(dtype_);
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    const Tensor& y = ctx.input(1);
    if (x.dtype() != dtype_ || y.dtype() != dtype_) {
      return invalid_argument(where_ + "inputs are " + dtype_name(x.dtype()) + " and " +
                              dtype_name(y.dtype()) + ", expected " + dtype_name(dtype_));
    }
    if (x.shape() != plan_x_ || y.shape() != plan_y_ || !planned_) {
      Status s = make_broadcast_plan(x.shape(), y.shape(), &plan_);
      if (!s.is_ok()) return invalid_argument(where_ + s.message());
      plan_x_ = x.shape();
      plan_y_ = y.shape();
      planned_ = true;
    }
    if (check_ != nullptr) QTF_RETURN_IF_ERROR(check_(y, where_));
    Tensor z;
    if (out_dtype_ == dtype_ && x.shape() == plan_.out_shape && x.is_sole_owner()) {
      z = x;
    } else {
      z = Tensor::allocate(out_dtype_, plan_.out_shape);
    }
    loop_(plan_, x.raw(), y.raw(), z.raw());
    ctx.set_output(0, std::move(z));
    return Status::ok();
  }

 private:
  using Loop = void (*)(const BroadcastPlan&, const void*, const void*, void*);
  using Check = Status (*)(const Tensor&, const std::string&);

  template <typename T>
  static void run(const BroadcastPlan& plan, const void* x, const void* y, void* z) {
    using R = decltype(Op<T>::apply(T(), T()));
    broadcast_loop(plan, static_cast<const T*>(x), static_cast<const T*>(y),
                   static_cast<R*>(z), [](T a, T b) { return Op<T>::apply(a, b); });
  }

  // Integer division by zero is an error, as in TensorFlow, not a trap.
  template <typename T>
  static Status check_divisor(const Tensor& y, const std::string& where) {
    const T* p = y.data<T>();
    for (int64_t i = 0, n = y.num_elements(); i < n; ++i) {
      if (p[i] == T(0)) return invalid_argument(where + "Integer division by zero");
    }
    return Status::ok();
  }

  Loop pick(DataType t) {
    Loop loop = nullptr;
    dispatch_with_bool(t, [&](auto tag) {
      using T = typename decltype(tag)::type;
      if constexpr (op_accepts<Op, T>()) {
        loop = &run<T>;
        out_dtype_ = dtype_of<decltype(Op<T>::apply(T(), T()))>();
        if constexpr (IntegerDivision<Op>::value && std::is_integral<T>::value) {
          check_ = &check_divisor<T>;
        }
      }
    });
    return loop;
  }

  std::string where_;
  DataType dtype_ = TF_FLOAT;
  DataType out_dtype_ = TF_FLOAT;
  Loop loop_ = nullptr;
  Check check_ = nullptr;
  bool planned_ = false;
  Shape plan_x_, plan_y_;
  BroadcastPlan plan_;
};

}  // namespace qtf
