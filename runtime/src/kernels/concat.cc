// ConcatV2: joins N tensors along an existing axis (last input).
#include <cstring>
#include <vector>

#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/parallel.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class ConcatV2Kernel : public OpKernel {
 public:
  ConcatV2Kernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    const int n = ctx.num_inputs() - 1;
    if (n < 1) return invalid_argument(where_ + "nothing to concatenate");
    int64_t axis_value = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(n), where_, "axis", &axis_value));
    const Tensor& first = ctx.input(0);
    if (!is_movable_dtype(dtype_)) {
      return invalid_argument(where_ + "cannot concatenate " + dtype_name(dtype_) + " tensors");
    }
    int64_t axis = 0;
    QTF_RETURN_IF_ERROR(canonical_axis(axis_value, first.rank(), where_, &axis));
    Shape out_shape = first.shape();
    out_shape[static_cast<size_t>(axis)] = 0;
    for (int i = 0; i < n; ++i) {
      const Tensor& t = ctx.input(i);
      bool fits = t.dtype() == dtype_ && t.rank() == first.rank();
      for (int d = 0; fits && d < t.rank(); ++d) fits = d == axis || t.dim(d) == first.dim(d);
      if (!fits) {
        return invalid_argument(where_ + "input " + std::to_string(i) + " " +
                                dtype_name(t.dtype()) + shape_string(t.shape()) +
                                " does not match " + dtype_name(dtype_) +
                                shape_string(first.shape()) + " outside axis " +
                                std::to_string(axis));
      }
      out_shape[static_cast<size_t>(axis)] += t.dim(static_cast<int>(axis));
    }
    Tensor& out = ctx.allocate_output(0, dtype_, out_shape);
    int64_t outer = 1;
    for (int64_t d = 0; d < axis; ++d) outer *= out_shape[static_cast<size_t>(d)];
    if (outer == 0 || out.num_elements() == 0) return Status::ok();
    const int64_t out_row = out.num_elements() / outer;
    if (dtype_ == TF_STRING) {
      int64_t column = 0;
      for (int i = 0; i < n; ++i) {
        const Tensor& t = ctx.input(i);
        const int64_t row = t.num_elements() / outer;
        for (int64_t o = 0; o < outer; ++o) copy_elements(t, o * row, out, o * out_row + column, row);
        column += row;
      }
      return Status::ok();
    }
    // Fixed-size elements: one pass over the output rows, each filled from
    // every input in turn (a channel concat of NHWC images has a row per
    // pixel, so the per-row work must stay a bare memcpy).
    const size_t es = dtype_size(dtype_);
    std::vector<const char*> src(static_cast<size_t>(n));
    std::vector<size_t> row_bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      src[static_cast<size_t>(i)] = static_cast<const char*>(ctx.input(i).raw());
      row_bytes[static_cast<size_t>(i)] = static_cast<size_t>(ctx.input(i).num_elements() / outer) * es;
    }
    char* dst = static_cast<char*>(out.raw());
    const size_t out_bytes = static_cast<size_t>(out_row) * es;
    parallel_for(outer, out.num_elements(), [&](int64_t begin, int64_t end) {
      for (int64_t o = begin; o < end; ++o) {
        char* d = dst + static_cast<size_t>(o) * out_bytes;
        for (size_t i = 0; i < src.size(); ++i) {
          std::memcpy(d, src[i] + static_cast<size_t>(o) * row_bytes[i], row_bytes[i]);
          d += row_bytes[i];
        }
      }
    });
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

}  // namespace

QTF_REGISTER_KERNEL("ConcatV2", ConcatV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ConcatV2"
  input_arg { name: "values" type_attr: "T" number_attr: "N" }
  input_arg { name: "axis" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "N" type: "int" has_minimum: true minimum: 2 }
  attr { name: "T" type: "type" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
