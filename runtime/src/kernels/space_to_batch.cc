// SpaceToBatchND and BatchToSpaceND, and their 4-D forms SpaceToBatch and
// BatchToSpace (one square block size attribute). Keras exports dilated
// convolutions as SpaceToBatchND -> convolution -> BatchToSpaceND.
//
// SpaceToBatchND zero-pads the M spatial axes, splits each into
// (size / block, block), moves the block axes in front of the batch and
// merges them into it; BatchToSpaceND undoes that and then crops.
#include <string>

#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/permute.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

// block_shape and the [M, 2] paddings or crops, checked against the input.
Status read_blocks(const std::string& where, const Tensor& x, const Tensor& block_shape,
                   const Tensor& pairs, const char* pairs_name, std::vector<int64_t>* blocks,
                   std::vector<int64_t>* before, std::vector<int64_t>* after) {
  QTF_RETURN_IF_ERROR(read_index_vector(block_shape, where, "block_shape", blocks));
  const size_t m = blocks->size();
  if (block_shape.rank() != 1 || x.rank() < static_cast<int>(m) + 1) {
    return invalid_argument(where + "block_shape " + shape_string(block_shape.shape()) +
                            " must be a vector of at most rank - 1 entries for input " +
                            shape_string(x.shape()));
  }
  std::vector<int64_t> flat;
  QTF_RETURN_IF_ERROR(
      read_index_vector(pairs.reshaped({pairs.num_elements()}), where, pairs_name, &flat));
  if (pairs.shape() != Shape{static_cast<int64_t>(m), 2}) {
    return invalid_argument(where + pairs_name + " must have shape [" + std::to_string(m) +
                            ",2], got " + shape_string(pairs.shape()));
  }
  before->resize(m);
  after->resize(m);
  for (size_t i = 0; i < m; ++i) {
    (*before)[i] = flat[2 * i];
    (*after)[i] = flat[2 * i + 1];
    if ((*blocks)[i] < 1 || (*before)[i] < 0 || (*after)[i] < 0) {
      return invalid_argument(where + "block_shape must be positive and " + pairs_name +
                              " non-negative, got " + shape_string(*blocks) + " and " +
                              shape_string(flat));
    }
  }
  return Status::ok();
}

// The input seen as [batch, spatial..., rest] with the trailing axes merged.
Shape merged_shape(const Shape& s, size_t m) {
  Shape out(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(m + 1));
  int64_t rest = 1;
  for (size_t d = m + 1; d < s.size(); ++d) rest *= s[d];
  out.push_back(rest);
  return out;
}

Status space_to_batch(const std::string& where, const Tensor& x, const std::vector<int64_t>& blocks,
                      const std::vector<int64_t>& pad_before, const std::vector<int64_t>& pad_after,
                      Tensor* out) {
  const size_t m = blocks.size();
  const Shape in = merged_shape(x.shape(), m);
  // Zero padding as one gather over per-axis source maps.
  Shape padded_shape = in;
  std::vector<std::vector<int64_t>> maps(in.size());
  bool any_pad = false;
  for (size_t d = 0; d < in.size(); ++d) {
    const bool spatial = d >= 1 && d <= m;
    const int64_t before = spatial ? pad_before[d - 1] : 0, after = spatial ? pad_after[d - 1] : 0;
    any_pad = any_pad || before > 0 || after > 0;
    padded_shape[d] = before + in[d] + after;
    for (int64_t i = -before; i < in[d] + after; ++i) maps[d].push_back(i < in[d] ? i : -1);
    if (spatial && padded_shape[d] % blocks[d - 1] != 0) {
      return invalid_argument(where + "padded size " + std::to_string(padded_shape[d]) +
                              " of dimension " + std::to_string(d) +
                              " is not divisible by block size " + std::to_string(blocks[d - 1]));
    }
  }
  Tensor padded = x.reshaped(in);
  if (any_pad) {
    padded = Tensor::allocate(x.dtype(), padded_shape);
    alignas(16) const char zero[16] = {};
    gather_by_axis_maps(x.reshaped(in), maps, zero, padded);
  }
  // [batch, p1/b1, b1, ..., pM/bM, bM, rest] -> [b1, ..., bM, batch, p1/b1, ..., rest].
  Shape split{padded_shape[0]};
  std::vector<int64_t> perm;
  int64_t block_count = 1;
  for (size_t i = 0; i < m; ++i) {
    split.push_back(padded_shape[i + 1] / blocks[i]);
    split.push_back(blocks[i]);
    perm.push_back(static_cast<int64_t>(2 * i + 2));
    block_count *= blocks[i];
  }
  split.push_back(padded_shape.back());
  perm.push_back(0);
  for (size_t i = 0; i < m; ++i) perm.push_back(static_cast<int64_t>(2 * i + 1));
  perm.push_back(static_cast<int64_t>(2 * m + 1));
  Shape out_shape{block_count * padded_shape[0]};
  for (size_t i = 0; i < m; ++i) out_shape.push_back(padded_shape[i + 1] / blocks[i]);
  out_shape.insert(out_shape.end(), x.shape().begin() + static_cast<std::ptrdiff_t>(m + 1),
                   x.shape().end());
  *out = permute_axes(padded.reshaped(split), perm).reshaped(out_shape);
  return Status::ok();
}

Status batch_to_space(const std::string& where, const Tensor& x, const std::vector<int64_t>& blocks,
                      const std::vector<int64_t>& crop_before, const std::vector<int64_t>& crop_after,
                      Tensor* out) {
  const size_t m = blocks.size();
  const Shape in = merged_shape(x.shape(), m);
  int64_t block_count = 1;
  for (int64_t b : blocks) block_count *= b;
  if (in[0] % block_count != 0) {
    return invalid_argument(where + "batch " + std::to_string(in[0]) +
                            " is not divisible by the block count " + std::to_string(block_count));
  }
  const int64_t batch = in[0] / block_count;
  // [b1, ..., bM, batch, s1, ..., sM, rest] -> [batch, s1, b1, ..., sM, bM, rest].
  Shape split(blocks.begin(), blocks.end());
  split.push_back(batch);
  split.insert(split.end(), in.begin() + 1, in.end());
  std::vector<int64_t> perm{static_cast<int64_t>(m)};
  Shape joined{batch}, begin{0}, sizes{batch};
  for (size_t i = 0; i < m; ++i) {
    perm.push_back(static_cast<int64_t>(m + 1 + i));
    perm.push_back(static_cast<int64_t>(i));
    const int64_t full = in[i + 1] * blocks[i];
    if (crop_before[i] + crop_after[i] > full) {
      return invalid_argument(where + "crops of dimension " + std::to_string(i + 1) +
                              " exceed its size " + std::to_string(full));
    }
    joined.push_back(full);
    begin.push_back(crop_before[i]);
    sizes.push_back(full - crop_before[i] - crop_after[i]);
  }
  perm.push_back(static_cast<int64_t>(2 * m + 1));
  joined.push_back(in.back());
  begin.push_back(0);
  sizes.push_back(in.back());
  Tensor full = permute_axes(x.reshaped(split), perm).reshaped(joined);
  Shape out_shape(sizes.begin(), sizes.end() - 1);
  out_shape.insert(out_shape.end(), x.shape().begin() + static_cast<std::ptrdiff_t>(m + 1),
                   x.shape().end());
  if (sizes == joined) {
    *out = full.reshaped(out_shape);
    return Status::ok();
  }
  Tensor cropped = Tensor::allocate(x.dtype(), sizes);
  strided_copy(full, begin, std::vector<int64_t>(sizes.size(), 1), sizes, cropped);
  *out = cropped.reshaped(out_shape);
  return Status::ok();
}

// The ND ops read block_shape from an input; the 4-D ones from block_size.
class SpaceBatchKernel : public OpKernel {
 public:
  SpaceBatchKernel(const NodeAttrs& attrs, Status* status, bool to_batch, bool nd)
      : where_(attrs.where()), to_batch_(to_batch), nd_(nd) {
    if (!nd_) *status = attrs.get_int("block_size", &block_size_);
    if (status->is_ok() && !nd_ && block_size_ < 2) {
      *status = invalid_argument(where_ + "block_size must be at least 2, got " +
                                 std::to_string(block_size_));
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (dtype_size(x.dtype()) == 0) {
      return invalid_argument(where_ + "cannot rearrange " + dtype_name(x.dtype()) + " tensors");
    }
    Tensor block_shape =
        nd_ ? ctx.input(1) : Tensor::allocate(TF_INT64, {2});
    if (!nd_) {
      if (x.rank() != 4) {
        return invalid_argument(where_ + "input must be rank 4, got " + shape_string(x.shape()));
      }
      block_shape.data<int64_t>()[0] = block_shape.data<int64_t>()[1] = block_size_;
    }
    std::vector<int64_t> blocks, before, after;
    QTF_RETURN_IF_ERROR(read_blocks(where_, x, block_shape, ctx.input(nd_ ? 2 : 1),
                                    to_batch_ ? "paddings" : "crops", &blocks, &before, &after));
    Tensor y;
    QTF_RETURN_IF_ERROR(to_batch_ ? space_to_batch(where_, x, blocks, before, after, &y)
                                  : batch_to_space(where_, x, blocks, before, after, &y));
    ctx.set_output(0, std::move(y));
    return Status::ok();
  }

 private:
  std::string where_;
  bool to_batch_, nd_;
  int64_t block_size_ = 0;
};

struct SpaceToBatchNDKernel : SpaceBatchKernel {
  SpaceToBatchNDKernel(const NodeAttrs& a, Status* s) : SpaceBatchKernel(a, s, true, true) {}
};
struct BatchToSpaceNDKernel : SpaceBatchKernel {
  BatchToSpaceNDKernel(const NodeAttrs& a, Status* s) : SpaceBatchKernel(a, s, false, true) {}
};
struct SpaceToBatchKernel : SpaceBatchKernel {
  SpaceToBatchKernel(const NodeAttrs& a, Status* s) : SpaceBatchKernel(a, s, true, false) {}
};
struct BatchToSpaceKernel : SpaceBatchKernel {
  BatchToSpaceKernel(const NodeAttrs& a, Status* s) : SpaceBatchKernel(a, s, false, false) {}
};

}  // namespace

QTF_REGISTER_KERNEL("SpaceToBatchND", SpaceToBatchNDKernel);
QTF_REGISTER_KERNEL("BatchToSpaceND", BatchToSpaceNDKernel);
QTF_REGISTER_KERNEL("SpaceToBatch", SpaceToBatchKernel);
QTF_REGISTER_KERNEL("BatchToSpace", BatchToSpaceKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "SpaceToBatchND"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "block_shape" type_attr: "Tblock_shape" }
  input_arg { name: "paddings" type_attr: "Tpaddings" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tblock_shape" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "Tpaddings" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "BatchToSpaceND"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "block_shape" type_attr: "Tblock_shape" }
  input_arg { name: "crops" type_attr: "Tcrops" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tblock_shape" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "Tcrops" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "SpaceToBatch"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "paddings" type_attr: "Tpaddings" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Tpaddings" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "block_size" type: "int" has_minimum: true minimum: 2 })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "BatchToSpace"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "crops" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "block_size" type: "int" has_minimum: true minimum: 2 }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
