// OneHot: output[..., d, ...] = on_value where indices[...] == d, else
// off_value, with the depth axis inserted at `axis` (-1: last). Indices
// outside [0, depth) give a row of off_value.
#include <cstring>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename I>
int64_t index_at(const Tensor& t, int64_t i) {
  return static_cast<int64_t>(t.data<I>()[i]);
}

class OneHotKernel : public OpKernel {
 public:
  OneHotKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) *status = attrs.get_type("TI", &index_type_);
    if (status->is_ok()) *status = attrs.get_int("axis", &axis_);
    if (!status->is_ok()) return;
    if (index_type_ == TF_UINT8) index_ = &index_at<uint8_t>;
    else if (index_type_ == TF_INT32) index_ = &index_at<int32_t>;
    else if (index_type_ == TF_INT64) index_ = &index_at<int64_t>;
    if (index_ == nullptr || dtype_size(dtype_) == 0) {
      *status = unimplemented(where_ + "OneHot of " + dtype_name(dtype_) + " with " +
                              dtype_name(index_type_) + " indices is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& indices = ctx.input(0);
    const Tensor& on = ctx.input(2);
    const Tensor& off = ctx.input(3);
    if (indices.dtype() != index_type_) {
      return invalid_argument(where_ + "indices are " + dtype_name(indices.dtype()) + ", expected " +
                              dtype_name(index_type_));
    }
    if (on.dtype() != dtype_ || off.dtype() != dtype_ || on.rank() != 0 || off.rank() != 0) {
      return invalid_argument(where_ + "on_value and off_value must be " + dtype_name(dtype_) +
                              " scalars");
    }
    int64_t depth = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "depth", &depth));
    if (depth < 0) return invalid_argument(where_ + "depth must be non-negative, got " + std::to_string(depth));
    const int rank = indices.rank();
    if (axis_ < -1 || axis_ > rank) {
      return invalid_argument(where_ + "Expected axis to be -1 or between [0, " +
                              std::to_string(rank) + "], got " + std::to_string(axis_));
    }
    const int64_t axis = axis_ == -1 ? rank : axis_;
    Shape out_shape = indices.shape();
    out_shape.insert(out_shape.begin() + axis, depth);
    int64_t prefix = 1, suffix = 1;
    for (int d = 0; d < rank; ++d) (d < axis ? prefix : suffix) *= indices.dim(d);
    Tensor& out = ctx.allocate_output(0, dtype_, out_shape);
    const size_t es = dtype_size(dtype_);
    char* y = static_cast<char*>(out.raw());
    for (int64_t p = 0; p < prefix; ++p) {
      for (int64_t d = 0; d < depth; ++d) {
        for (int64_t s = 0; s < suffix; ++s) {
          const bool hit = index_(indices, p * suffix + s) == d;
          std::memcpy(y, hit ? on.raw() : off.raw(), es);
          y += es;
        }
      }
    }
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT, index_type_ = TF_INT64;
  int64_t axis_ = -1;
  int64_t (*index_)(const Tensor&, int64_t) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("OneHot", OneHotKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "OneHot"
  input_arg { name: "indices" type_attr: "TI" }
  input_arg { name: "depth" type: DT_INT32 }
  input_arg { name: "on_value" type_attr: "T" }
  input_arg { name: "off_value" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "axis" type: "int" default_value { i: -1 } }
  attr { name: "T" type: "type" }
  attr { name: "TI" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_UINT8, DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
