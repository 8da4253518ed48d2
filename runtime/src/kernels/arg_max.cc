// ArgMax: index of the largest value along `dimension` (the first one on ties).
#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename T, typename I>
void arg_max(const void* xv, void* yv, int64_t outer, int64_t n, int64_t inner) {
  const T* x = static_cast<const T*>(xv);
  I* y = static_cast<I*>(yv);
  for (int64_t o = 0; o < outer; ++o) {
    const T* block = x + o * n * inner;
    I* out = y + o * inner;
    for (int64_t i = 0; i < inner; ++i) {
      T best = block[i];
      int64_t at = 0;
      for (int64_t k = 1; k < n; ++k) {
        const T v = block[k * inner + i];
        if (v > best) {
          best = v;
          at = k;
        }
      }
      out[i] = static_cast<I>(at);
    }
  }
}

class ArgMaxKernel : public OpKernel {
 public:
  ArgMaxKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_type("output_type", &out_type_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) {
      using T = typename decltype(tag)::type;
      if (out_type_ == TF_INT32) loop_ = &arg_max<T, int32_t>;
      if (out_type_ == TF_INT64) loop_ = &arg_max<T, int64_t>;
    });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "ArgMax of " + dtype_name(dtype_) + " to " +
                              dtype_name(out_type_) + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (in.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(in.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    int64_t dim = 0, axis = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "dimension", &dim));
    QTF_RETURN_IF_ERROR(canonical_axis(dim, in.rank(), where_, &axis));
    const int64_t n = in.dim(static_cast<int>(axis));
    if (n == 0) return invalid_argument(where_ + "cannot take ArgMax over an empty axis");
    Shape out_shape = in.shape();
    out_shape.erase(out_shape.begin() + axis);
    int64_t outer = 1;
    for (int64_t d = 0; d < axis; ++d) outer *= in.dim(static_cast<int>(d));
    const int64_t inner = in.num_elements() / (outer * n == 0 ? 1 : outer * n);
    Tensor& out = ctx.allocate_output(0, out_type_, out_shape);
    if (out.num_elements() > 0) loop_(in.raw(), out.raw(), outer, n, inner);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT, out_type_ = TF_INT64;
  void (*loop_)(const void*, void*, int64_t, int64_t, int64_t) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("ArgMax", ArgMaxKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ArgMax"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "dimension" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "output_type" }
  attr { name: "T" type: "type" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } }
  attr { name: "output_type" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_INT16, DT_UINT16, DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
