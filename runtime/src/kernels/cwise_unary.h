// Elementwise unary kernels (Neg, Relu, Sigmoid, ...).
//
// An op is a functor template `Op<T>` with `static R apply(T x)` (R is T, or
// bool for tests such as IsNan), `kFloatOnly` and the optional flags of
// op_traits.h; an op with kFloatAttr gets that attr's value as apply's second
// argument. The input buffer is reused for the output when nothing else
// holds it and the output has the input's type.
#pragma once

#include <type_traits>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/op_traits.h"
#include "kernels/parallel.h"

namespace qtf {

template <template <typename> class Op>
class UnaryKernel : public OpKernel {
 public:
  UnaryKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    if (BoolOnly<Op>::value) {
      dtype_ = TF_BOOL;
    } else {
      *status = attrs.get_type("T", &dtype_);
      if (!status->is_ok()) return;
    }
    if constexpr (HasFloatAttr<Op>::value) {
      *status = attrs.get_float(Op<float>::kFloatAttr, &param_);
      if (!status->is_ok()) return;
    }
    dispatch_with_bool(dtype_, [&](auto tag) {
      using T = typename decltype(tag)::type;
      if constexpr (op_accepts<Op, T>()) {
        loop_ = &run<T>;
        out_dtype_ = dtype_of<decltype(apply<T>(T(), 0.f))>();
      }
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
    Tensor y = out_dtype_ == dtype_ && x.is_sole_owner() ? x : Tensor::allocate(out_dtype_, x.shape());
    loop_(x.raw(), y.raw(), x.num_elements(), param_);
    ctx.set_output(0, std::move(y));
    return Status::ok();
  }

 private:
  template <typename T>
  static void run(const void* xv, void* yv, int64_t n, float param) {
    using R = decltype(apply<T>(T(), param));
    const T* x = static_cast<const T*>(xv);
    R* y = static_cast<R*>(yv);
    parallel_for(n, n, [&](int64_t begin, int64_t end) {
      for (int64_t i = begin; i < end; ++i) y[i] = apply<T>(x[i], param);
    });
  }

  template <typename T>
  static auto apply(T x, float param) {
    if constexpr (HasFloatAttr<Op>::value) {
      return Op<T>::apply(x, param);
    } else {
      (void)param;
      return Op<T>::apply(x);
    }
  }

  std::string where_;
  DataType dtype_ = TF_FLOAT;
  DataType out_dtype_ = TF_FLOAT;
  float param_ = 0.f;  // the kFloatAttr value, for ops that have one
  void (*loop_)(const void*, void*, int64_t, float) = nullptr;
};

}  // namespace qtf
