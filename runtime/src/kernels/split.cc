// Split, SplitV and Unpack: cut a tensor into pieces along one axis. One
// file: the three differ only in how the piece sizes are given (Unpack
// also drops the axis).
#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

// Writes outputs 0..sizes.size()-1, piece i covering sizes[i] entries of axis.
Status write_pieces(OpKernelContext& ctx, const Tensor& value, int64_t axis,
                    const std::vector<int64_t>& sizes, bool drop_axis) {
  if (static_cast<int>(sizes.size()) != ctx.num_outputs()) {
    return internal_error("split into " + std::to_string(sizes.size()) + " pieces but the node has " +
                          std::to_string(ctx.num_outputs()) + " outputs");
  }
  const size_t rank = static_cast<size_t>(value.rank());
  std::vector<int64_t> begin(rank, 0), strides(rank, 1);
  Shape piece = value.shape();
  for (size_t i = 0; i < sizes.size(); ++i) {
    piece[static_cast<size_t>(axis)] = sizes[i];
    Tensor out = Tensor::allocate(value.dtype(), piece);
    strided_copy(value, begin, strides, piece, out);
    begin[static_cast<size_t>(axis)] += sizes[i];
    if (drop_axis) {
      Shape dropped = piece;
      dropped.erase(dropped.begin() + axis);
      out = out.reshaped(dropped);
    }
    ctx.set_output(static_cast<int>(i), std::move(out));
  }
  return Status::ok();
}

class SplitKernel : public OpKernel {
 public:
  SplitKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_int("num_split", &num_split_);
    if (status->is_ok() && num_split_ < 1) *status = invalid_argument(where_ + "num_split < 1");
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& value = ctx.input(1);
    if (!is_movable_dtype(value.dtype())) {
      return invalid_argument(where_ + "cannot split " + dtype_name(value.dtype()) + " tensors");
    }
    int64_t dim = 0, axis = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(0), where_, "split_dim", &dim));
    QTF_RETURN_IF_ERROR(canonical_axis(dim, value.rank(), where_, &axis));
    const int64_t n = value.dim(static_cast<int>(axis));
    if (n % num_split_ != 0) {
      return invalid_argument(where_ + "dimension " + std::to_string(axis) + " of size " +
                              std::to_string(n) + " does not split into " +
                              std::to_string(num_split_) + " equal parts");
    }
    return write_pieces(ctx, value, axis,
                        std::vector<int64_t>(static_cast<size_t>(num_split_), n / num_split_),
                        false);
  }

 private:
  std::string where_;
  int64_t num_split_ = 1;
};

class SplitVKernel : public OpKernel {
 public:
  SplitVKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_int("num_split", &num_split_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& value = ctx.input(0);
    if (!is_movable_dtype(value.dtype())) {
      return invalid_argument(where_ + "cannot split " + dtype_name(value.dtype()) + " tensors");
    }
    std::vector<int64_t> sizes;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "size_splits", &sizes));
    int64_t dim = 0, axis = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(2), where_, "split_dim", &dim));
    QTF_RETURN_IF_ERROR(canonical_axis(dim, value.rank(), where_, &axis));
    if (static_cast<int64_t>(sizes.size()) != num_split_) {
      return invalid_argument(where_ + "size_splits has " + std::to_string(sizes.size()) +
                              " entries, num_split is " + std::to_string(num_split_));
    }
    const int64_t n = value.dim(static_cast<int>(axis));
    int64_t known = 0;
    int unknown = -1;
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (sizes[i] == -1 && unknown < 0) {
        unknown = static_cast<int>(i);
      } else if (sizes[i] < 0) {
        return invalid_argument(where_ + "size_splits " + shape_string(sizes) +
                                " may hold one -1 and otherwise sizes >= 0");
      } else {
        known += sizes[i];
      }
    }
    if (unknown >= 0 && known <= n) sizes[static_cast<size_t>(unknown)] = n - known;
    if ((unknown >= 0 && known > n) || (unknown < 0 && known != n)) {
      return invalid_argument(where_ + "size_splits " + shape_string(sizes) +
                              " do not add up to " + std::to_string(n));
    }
    return write_pieces(ctx, value, axis, sizes, false);
  }

 private:
  std::string where_;
  int64_t num_split_ = 1;
};

class UnpackKernel : public OpKernel {
 public:
  UnpackKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_int("num", &num_);
    if (status->is_ok()) *status = attrs.get_int("axis", &axis_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& value = ctx.input(0);
    if (!is_movable_dtype(value.dtype())) {
      return invalid_argument(where_ + "cannot unpack " + dtype_name(value.dtype()) + " tensors");
    }
    int64_t axis = 0;
    QTF_RETURN_IF_ERROR(canonical_axis(axis_, value.rank(), where_, &axis));
    if (value.dim(static_cast<int>(axis)) != num_) {
      return invalid_argument(where_ + "axis " + std::to_string(axis) + " of " +
                              shape_string(value.shape()) + " does not have num=" +
                              std::to_string(num_) + " entries");
    }
    return write_pieces(ctx, value, axis, std::vector<int64_t>(static_cast<size_t>(num_), 1), true);
  }

 private:
  std::string where_;
  int64_t num_ = 0, axis_ = 0;
};

}  // namespace

QTF_REGISTER_KERNEL("Split", SplitKernel);
QTF_REGISTER_KERNEL("SplitV", SplitVKernel);
QTF_REGISTER_KERNEL("Unpack", UnpackKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Split"
  input_arg { name: "split_dim" type: DT_INT32 }
  input_arg { name: "value" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" number_attr: "num_split" }
  attr { name: "num_split" type: "int" has_minimum: true minimum: 1 }
  attr { name: "T" type: "type" })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "SplitV"
  input_arg { name: "value" type_attr: "T" }
  input_arg { name: "size_splits" type_attr: "Tlen" }
  input_arg { name: "split_dim" type: DT_INT32 }
  output_arg { name: "output" type_attr: "T" number_attr: "num_split" }
  attr { name: "num_split" type: "int" has_minimum: true minimum: 1 }
  attr { name: "T" type: "type" }
  attr { name: "Tlen" type: "type" default_value { type: DT_INT64 }
         allowed_values { list { type: [DT_INT8, DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "Unpack"
  input_arg { name: "value" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" number_attr: "num" }
  attr { name: "num" type: "int" has_minimum: true }
  attr { name: "T" type: "type" }
  attr { name: "axis" type: "int" default_value { i: 0 } })pb");

}  // namespace qtf
