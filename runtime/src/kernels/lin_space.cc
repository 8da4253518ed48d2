// LinSpace: num evenly spaced values from start to stop, both included
// (stop is stored exactly, as TensorFlow does).
#include "core/kernel.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename T>
void lin_space(const Tensor& start_t, const Tensor& stop_t, int64_t num, Tensor& out) {
  const T start = *start_t.data<T>(), stop = *stop_t.data<T>();
  T* y = out.data<T>();
  if (num == 1) {
    y[0] = start;
    return;
  }
  const T step = (stop - start) / static_cast<T>(num - 1);
  for (int64_t i = 0; i + 1 < num; ++i) y[i] = start + step * static_cast<T>(i);
  y[num - 1] = stop;
}

class LinSpaceKernel : public OpKernel {
 public:
  LinSpaceKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (!status->is_ok()) return;
    if (dtype_ == TF_FLOAT) run_ = &lin_space<float>;
    else if (dtype_ == TF_DOUBLE) run_ = &lin_space<double>;
    else *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& start = ctx.input(0);
    const Tensor& stop = ctx.input(1);
    if (start.dtype() != dtype_ || stop.dtype() != dtype_ || start.rank() != 0 || stop.rank() != 0) {
      return invalid_argument(where_ + "start and stop must be " + dtype_name(dtype_) + " scalars");
    }
    int64_t num = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(2), where_, "num", &num));
    if (num <= 0) return invalid_argument(where_ + "Requires num > 0: " + std::to_string(num));
    run_(start, stop, num, ctx.allocate_output(0, dtype_, {num}));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  void (*run_)(const Tensor&, const Tensor&, int64_t, Tensor&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("LinSpace", LinSpaceKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "LinSpace"
  input_arg { name: "start" type_attr: "T" }
  input_arg { name: "stop" type_attr: "T" }
  input_arg { name: "num" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type"
         allowed_values { list { type: [DT_BFLOAT16, DT_HALF, DT_FLOAT, DT_DOUBLE] } } }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
