// ArgMax and ArgMin: index of the largest (smallest) value along `dimension`
// (the first one on ties).
#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename T, typename I, bool kMin>
void arg_extreme(const void* xv, void* yv, int64_t outer, int64_t n, int64_t inner) {
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
        if (kMin ? v < best : v > best) {
          best = v;
          at = k;
        }
      }
      out[i] = static_cast<I>(at);
    }
  }
}

template <bool kMin>
class ArgExtremeKernel : public OpKernel {
 public:
  ArgExtremeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_type("output_type", &out_type_);
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) {
      using T = typename decltype(tag)::type;
      if (out_type_ == TF_INT32) loop_ = &arg_extreme<T, int32_t, kMin>;
      if (out_type_ == TF_INT64) loop_ = &arg_extreme<T, int64_t, kMin>;
    });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + attrs.op() + " of " + dtype_name(dtype_) + " to " +
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
    if (n == 0) return invalid_argument(where_ + "cannot reduce over an empty axis");
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

using ArgMaxKernel = ArgExtremeKernel<false>;
using ArgMinKernel = ArgExtremeKernel<true>;
QTF_REGISTER_KERNEL("ArgMax", ArgMaxKernel);
QTF_REGISTER_KERNEL("ArgMin", ArgMinKernel);

#define QTF_ARG_EXTREME_OP_DEF(name_text)                                             \
  "name: \"" name_text "\" "                                                        \
  "input_arg { name: \"input\" type_attr: \"T\" } "                                 \
  "input_arg { name: \"dimension\" type_attr: \"Tidx\" } "                          \
  "output_arg { name: \"output\" type_attr: \"output_type\" } "                     \
  "attr { name: \"T\" type: \"type\" } "                                            \
  "attr { name: \"Tidx\" type: \"type\" default_value { type: DT_INT32 } "          \
  "allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } } "             \
  "attr { name: \"output_type\" type: \"type\" default_value { type: DT_INT64 } "   \
  "allowed_values { list { type: [DT_INT16, DT_UINT16, DT_INT32, DT_INT64] } } }"
QTF_REGISTER_OP_DEF(QTF_ARG_EXTREME_OP_DEF("ArgMax"));
QTF_REGISTER_OP_DEF(QTF_ARG_EXTREME_OP_DEF("ArgMin"));
#undef QTF_ARG_EXTREME_OP_DEF

}  // namespace qtf
