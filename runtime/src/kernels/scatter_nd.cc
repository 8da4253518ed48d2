// ScatterNd and TensorScatterUpdate/Add/Sub/Max/Min: updates written into a
// zero tensor of `shape` (ScatterNd, repeated rows add up) or into a copy of
// `tensor`, one slice per index row. Every row is checked before anything
// is written: a row outside the shape fails the run (or is skipped under
// bad_indices_policy "IGNORE"), never writing out of bounds.
#include <algorithm>
#include <cstring>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"
#include "kernels/nd_index.h"

namespace qtf {
namespace {

enum class Combine { kAssign, kAdd, kSub, kMax, kMin };

template <typename T>
void combine_slices(const NdIndex& nd, Combine how, const Tensor& updates, Tensor& out) {
  const T* u = updates.data<T>();
  T* y = out.data<T>();
  for (int64_t r = 0; r < nd.rows; ++r) {
    const int64_t at = nd.offsets[static_cast<size_t>(r)];
    if (at < 0) continue;
    T* dst = y + at;
    const T* src = u + r * nd.slice;
    for (int64_t i = 0; i < nd.slice; ++i) {
      switch (how) {
        case Combine::kAssign: dst[i] = src[i]; break;
        case Combine::kAdd: dst[i] = static_cast<T>(dst[i] + src[i]); break;
        case Combine::kSub: dst[i] = static_cast<T>(dst[i] - src[i]); break;
        case Combine::kMax: dst[i] = std::max(dst[i], src[i]); break;
        case Combine::kMin: dst[i] = std::min(dst[i], src[i]); break;
      }
    }
  }
}

// Assigning only moves bytes, so it serves every fixed-size type.
void assign_slices(const NdIndex& nd, const Tensor& updates, Tensor& out) {
  const size_t es = dtype_size(out.dtype());
  for (int64_t r = 0; r < nd.rows; ++r) {
    const int64_t at = nd.offsets[static_cast<size_t>(r)];
    if (at < 0) continue;
    std::memcpy(static_cast<char*>(out.raw()) + static_cast<size_t>(at) * es,
                static_cast<const char*>(updates.raw()) + static_cast<size_t>(r * nd.slice) * es,
                static_cast<size_t>(nd.slice) * es);
  }
}

class ScatterKernel : public OpKernel {
 public:
  // `into_tensor`: TensorScatter* (input 0 is the base tensor); otherwise
  // ScatterNd (inputs indices, updates, shape).
  ScatterKernel(const NodeAttrs& attrs, Status* status, bool into_tensor, Combine how)
      : where_(attrs.where()), into_tensor_(into_tensor), how_(how) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok()) {
      *status = parse_bad_indices_policy(attrs.string_or("bad_indices_policy", ""), where_, &ignore_bad_);
    }
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) { combine_ = &combine_slices<typename decltype(tag)::type>; });
    const bool ok = how_ == Combine::kAssign ? dtype_size(dtype_) > 0 : combine_ != nullptr;
    if (!ok) *status = unimplemented(where_ + "type " + dtype_name(dtype_) + " is not supported");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& indices = ctx.input(into_tensor_ ? 1 : 0);
    const Tensor& updates = ctx.input(into_tensor_ ? 2 : 1);
    Shape shape;
    if (into_tensor_) {
      shape = ctx.input(0).shape();
      if (ctx.input(0).dtype() != dtype_) {
        return invalid_argument(where_ + "tensor is " + dtype_name(ctx.input(0).dtype()) +
                                ", expected " + dtype_name(dtype_));
      }
    } else {
      QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(2), where_, "shape", &shape));
      for (int64_t d : shape) {
        if (d < 0) return invalid_argument(where_ + "shape " + shape_string(shape) + " is negative");
      }
    }
    if (updates.dtype() != dtype_) {
      return invalid_argument(where_ + "updates are " + dtype_name(updates.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    NdIndex nd;
    QTF_RETURN_IF_ERROR(resolve_nd_indices(indices, shape, where_, &nd));
    const int64_t k = indices.dim(indices.rank() - 1);
    Shape want(indices.shape().begin(), indices.shape().end() - 1);
    want.insert(want.end(), shape.begin() + k, shape.end());
    if (updates.shape() != want) {
      return invalid_argument(where_ + "updates must have shape " + shape_string(want) +
                              " for indices " + shape_string(indices.shape()) + " into " +
                              shape_string(shape) + ", got " + shape_string(updates.shape()));
    }
    if (nd.first_bad >= 0 && !ignore_bad_) {
      return invalid_argument(where_ + nd_row_string(indices, nd.first_bad) +
                              " does not index into shape " + shape_string(shape));
    }
    Tensor out;
    if (!into_tensor_) {
      out = Tensor::allocate(dtype_, shape);
      if (out.byte_size() > 0) std::memset(out.raw(), 0, out.byte_size());
    } else if (ctx.input(0).is_sole_owner()) {
      out = ctx.input(0);
    } else {
      out = Tensor::allocate(dtype_, shape);
      if (out.byte_size() > 0) std::memcpy(out.raw(), ctx.input(0).raw(), out.byte_size());
    }
    if (how_ == Combine::kAssign) assign_slices(nd, updates, out);
    else combine_(nd, how_, updates, out);
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  bool into_tensor_;
  Combine how_;
  bool ignore_bad_ = false;
  DataType dtype_ = TF_FLOAT;
  void (*combine_)(const NdIndex&, Combine, const Tensor&, Tensor&) = nullptr;
};

template <bool kIntoTensor, Combine kHow>
struct ScatterVariant : ScatterKernel {
  ScatterVariant(const NodeAttrs& attrs, Status* status)
      : ScatterKernel(attrs, status, kIntoTensor, kHow) {}
};

}  // namespace

using ScatterNdKernel = ScatterVariant<false, Combine::kAdd>;
using TensorScatterUpdateKernel = ScatterVariant<true, Combine::kAssign>;
using TensorScatterAddKernel = ScatterVariant<true, Combine::kAdd>;
using TensorScatterSubKernel = ScatterVariant<true, Combine::kSub>;
using TensorScatterMaxKernel = ScatterVariant<true, Combine::kMax>;
using TensorScatterMinKernel = ScatterVariant<true, Combine::kMin>;
QTF_REGISTER_KERNEL("ScatterNd", ScatterNdKernel);
QTF_REGISTER_KERNEL("TensorScatterUpdate", TensorScatterUpdateKernel);
QTF_REGISTER_KERNEL("TensorScatterAdd", TensorScatterAddKernel);
QTF_REGISTER_KERNEL("TensorScatterSub", TensorScatterSubKernel);
QTF_REGISTER_KERNEL("TensorScatterMax", TensorScatterMaxKernel);
QTF_REGISTER_KERNEL("TensorScatterMin", TensorScatterMinKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "ScatterNd"
  input_arg { name: "indices" type_attr: "Tindices" }
  input_arg { name: "updates" type_attr: "T" }
  input_arg { name: "shape" type_attr: "Tindices" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tindices" type: "type"
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } }
  attr { name: "bad_indices_policy" type: "string" default_value { s: "" } })pb");

#define QTF_TENSOR_SCATTER_OP_DEF(name_text)                                         \
  "name: \"" name_text "\" "                                                        \
  "input_arg { name: \"tensor\" type_attr: \"T\" } "                                \
  "input_arg { name: \"indices\" type_attr: \"Tindices\" } "                        \
  "input_arg { name: \"updates\" type_attr: \"T\" } "                               \
  "output_arg { name: \"output\" type_attr: \"T\" } "                               \
  "attr { name: \"T\" type: \"type\" } "                                            \
  "attr { name: \"Tindices\" type: \"type\" "                                       \
  "allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64, DT_UINT16] } } } "  \
  "attr { name: \"bad_indices_policy\" type: \"string\" default_value { s: \"\" } }"
QTF_REGISTER_OP_DEF(QTF_TENSOR_SCATTER_OP_DEF("TensorScatterUpdate"));
QTF_REGISTER_OP_DEF(QTF_TENSOR_SCATTER_OP_DEF("TensorScatterAdd"));
QTF_REGISTER_OP_DEF(QTF_TENSOR_SCATTER_OP_DEF("TensorScatterSub"));
QTF_REGISTER_OP_DEF(QTF_TENSOR_SCATTER_OP_DEF("TensorScatterMax"));
QTF_REGISTER_OP_DEF(QTF_TENSOR_SCATTER_OP_DEF("TensorScatterMin"));
#undef QTF_TENSOR_SCATTER_OP_DEF

}  // namespace qtf
