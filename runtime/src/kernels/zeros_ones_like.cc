// ZerosLike and OnesLike: a tensor of x's shape and type filled with 0 or 1
// (false or true for bool).
#include <cstring>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace {

template <typename T>
void fill_ones(void* p, int64_t n) {
  T* y = static_cast<T*>(p);
  for (int64_t i = 0; i < n; ++i) y[i] = T(1);
}

class FillLikeKernel : public OpKernel {
 public:
  FillLikeKernel(const NodeAttrs& attrs, Status* status, bool ones) : where_(attrs.where()), ones_(ones) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    const bool known = dispatch_with_bool(dtype_, [&](auto tag) {
      fill_ones_ = &fill_ones<typename decltype(tag)::type>;
    });
    if (!known) *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(x.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    Tensor& y = ctx.allocate_output(0, dtype_, x.shape());
    // All-zero bytes are 0 for every integer and IEEE type.
    if (ones_) fill_ones_(y.raw(), y.num_elements());
    else if (y.byte_size() > 0) std::memset(y.raw(), 0, y.byte_size());
    return Status::ok();
  }

 private:
  std::string where_;
  bool ones_;
  DataType dtype_ = TF_FLOAT;
  void (*fill_ones_)(void*, int64_t) = nullptr;
};

struct ZerosLikeKernel : FillLikeKernel {
  ZerosLikeKernel(const NodeAttrs& attrs, Status* status) : FillLikeKernel(attrs, status, false) {}
};
struct OnesLikeKernel : FillLikeKernel {
  OnesLikeKernel(const NodeAttrs& attrs, Status* status) : FillLikeKernel(attrs, status, true) {}
};

}  // namespace

QTF_REGISTER_KERNEL("ZerosLike", ZerosLikeKernel);
QTF_REGISTER_KERNEL("OnesLike", OnesLikeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ZerosLike"
  input_arg { name: "x" type_attr: "T" }
  output_arg { name: "y" type_attr: "T" }
  attr { name: "T" type: "type" })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "OnesLike"
  input_arg { name: "x" type_attr: "T" }
  output_arg { name: "y" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
