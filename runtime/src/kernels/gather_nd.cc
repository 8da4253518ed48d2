// GatherNd: output[i...] = params[indices[i..., :]], each index row naming
// an element or a slice of params. A row outside params fails the run, or
// gives zeros under bad_indices_policy "IGNORE".
#include <cstring>

#include "core/kernel.h"
#include "kernels/nd_index.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

class GatherNdKernel : public OpKernel {
 public:
  GatherNdKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = parse_bad_indices_policy(attrs.string_or("bad_indices_policy", ""), where_, &ignore_bad_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& params = ctx.input(0);
    const Tensor& indices = ctx.input(1);
    if (!is_movable_dtype(params.dtype())) {
      return invalid_argument(where_ + "cannot gather " + dtype_name(params.dtype()) + " tensors");
    }
    NdIndex nd;
    QTF_RETURN_IF_ERROR(resolve_nd_indices(indices, params.shape(), where_, &nd));
    if (nd.first_bad >= 0 && !ignore_bad_) {
      return invalid_argument(where_ + nd_row_string(indices, nd.first_bad) +
                              " does not index into param shape " + shape_string(params.shape()));
    }
    Shape out_shape(indices.shape().begin(), indices.shape().end() - 1);
    const int64_t k = indices.dim(indices.rank() - 1);
    out_shape.insert(out_shape.end(), params.shape().begin() + k, params.shape().end());
    Tensor& out = ctx.allocate_output(0, params.dtype(), out_shape);
    const bool strings = params.dtype() == TF_STRING;
    for (int64_t r = 0; r < nd.rows; ++r) {
      const int64_t src = nd.offsets[static_cast<size_t>(r)];
      if (src >= 0) {
        copy_elements(params, src, out, r * nd.slice, nd.slice);
      } else if (strings) {
        for (int64_t i = 0; i < nd.slice; ++i) out.mutable_string_values()[static_cast<size_t>(r * nd.slice + i)].clear();
      } else {
        const size_t es = dtype_size(params.dtype());
        std::memset(static_cast<char*>(out.raw()) + static_cast<size_t>(r * nd.slice) * es, 0,
                    static_cast<size_t>(nd.slice) * es);
      }
    }
    return Status::ok();
  }

 private:
  std::string where_;
  bool ignore_bad_ = false;
};

}  // namespace

QTF_REGISTER_KERNEL("GatherNd", GatherNdKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "GatherNd"
  input_arg { name: "params" type_attr: "Tparams" }
  input_arg { name: "indices" type_attr: "Tindices" }
  output_arg { name: "output" type_attr: "Tparams" }
  attr { name: "Tparams" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } }
  attr { name: "bad_indices_policy" type: "string" default_value { s: "" } })pb");

}  // namespace qtf
