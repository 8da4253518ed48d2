// ReverseV2: the input with the listed axes reversed (negative axes count
// from the end; an axis listed twice is an error, as in TensorFlow).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/kernel.h"
#include "kernels/axis_gather.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

struct Axis {
  int64_t size;
  bool flip;
};

// The shape with unit axes dropped and neighbouring axes of the same flip
// merged: reversing two adjacent axes is reversing their product. Never empty.
std::vector<Axis> merged_axes(const Shape& shape, const std::vector<bool>& flip) {
  std::vector<Axis> axes;
  for (size_t d = 0; d < shape.size(); ++d) {
    if (shape[d] == 1) continue;
    if (!axes.empty() && axes.back().flip == flip[d]) {
      axes.back().size *= shape[d];
    } else {
      axes.push_back({shape[d], flip[d]});
    }
  }
  if (axes.empty()) axes.push_back({1, false});
  return axes;
}

// `count` blocks of N elements in reverse block order.
template <typename T, int N>
void reverse_blocks(const T* from, T* to, int64_t count) {
  for (int64_t j = 0; j < count; ++j) {
    const T* src = from + (count - 1 - j) * N;
    for (int k = 0; k < N; ++k) to[j * N + k] = src[k];
  }
}

// Copies `in` into `out` with the flipped axes reversed. The innermost merged
// axis, or the flipped axis with the unflipped block inside it, is one typed
// loop; an odometer walks the axes outside it. An image's width reversed
// (NHWC, axis 2) is then one loop over the columns per row.
template <typename T>
void reverse_copy(const T* in, T* out, const std::vector<Axis>& axes) {
  const size_t rank = axes.size();
  std::vector<int64_t> stride(rank, 1);
  for (size_t d = rank - 1; d-- > 0;) stride[d] = stride[d + 1] * axes[d + 1].size;
  // Axes [outer, rank) are handled by `row`; an unflipped innermost axis
  // goes with the flipped one around it.
  const size_t outer = !axes[rank - 1].flip && rank >= 2 ? rank - 2 : rank - 1;
  const int64_t row_size = stride[outer] * axes[outer].size;
  auto row = [&](const T* from, T* to) {
    const Axis& a = axes[outer];
    if (outer == rank - 1) {
      if (a.flip) std::reverse_copy(from, from + a.size, to);
      else std::copy(from, from + a.size, to);
      return;
    }
    const int64_t block = axes[rank - 1].size;
    switch (block) {  // a few channels: fixed-size moves instead of a memmove call each
      case 2: return reverse_blocks<T, 2>(from, to, a.size);
      case 3: return reverse_blocks<T, 3>(from, to, a.size);
      case 4: return reverse_blocks<T, 4>(from, to, a.size);
      default: break;
    }
    for (int64_t j = 0; j < a.size; ++j) {
      const T* src = from + (a.size - 1 - j) * block;
      std::copy(src, src + block, to + j * block);
    }
  };
  const int64_t rows = stride[0] * axes[0].size / row_size;
  std::vector<int64_t> index(outer, 0);
  int64_t offset = 0;  // of the current row in `in`
  for (size_t d = 0; d < outer; ++d) {
    if (axes[d].flip) offset += (axes[d].size - 1) * stride[d];
  }
  for (int64_t r = 0; r < rows; ++r) {
    row(in + offset, out + r * row_size);
    for (size_t d = outer; d-- > 0;) {
      const int64_t step = axes[d].flip ? -stride[d] : stride[d];
      if (++index[d] < axes[d].size) {
        offset += step;
        break;
      }
      offset -= step * (axes[d].size - 1);
      index[d] = 0;
    }
  }
}

class ReverseV2Kernel : public OpKernel {
 public:
  ReverseV2Kernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot reverse " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> axes;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "axis", &axes));
    std::vector<bool> flip(static_cast<size_t>(in.rank()), false);
    for (int64_t a : axes) {
      int64_t axis = 0;
      QTF_RETURN_IF_ERROR(canonical_axis(a, in.rank(), where_, &axis));
      if (flip[static_cast<size_t>(axis)]) {
        return invalid_argument(where_ + "axis " + std::to_string(a) + " specified more than once");
      }
      flip[static_cast<size_t>(axis)] = true;
    }
    Tensor& out = ctx.allocate_output(0, in.dtype(), in.shape());
    if (in.num_elements() == 0) return Status::ok();
    const std::vector<Axis> merged = merged_axes(in.shape(), flip);
    switch (in.dtype() == TF_STRING ? 0 : dtype_size(in.dtype())) {
      case 1: return typed<uint8_t>(in, merged, out);
      case 2: return typed<uint16_t>(in, merged, out);
      case 4: return typed<uint32_t>(in, merged, out);
      case 8: return typed<uint64_t>(in, merged, out);
      default: break;
    }
    // Strings and wide elements: the general axis-map gather.
    std::vector<std::vector<int64_t>> maps(flip.size());
    for (size_t d = 0; d < flip.size(); ++d) {
      const int64_t n = in.shape()[d];
      for (int64_t i = 0; i < n; ++i) maps[d].push_back(flip[d] ? n - 1 - i : i);
    }
    gather_by_axis_maps(in, maps, nullptr, out);
    return Status::ok();
  }

 private:
  // Elements are moved as unsigned words of their size (bit patterns kept).
  template <typename Word>
  static Status typed(const Tensor& in, const std::vector<Axis>& merged, Tensor& out) {
    reverse_copy(static_cast<const Word*>(in.raw()), static_cast<Word*>(out.raw()), merged);
    return Status::ok();
  }

  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("ReverseV2", ReverseV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "ReverseV2"
  input_arg { name: "tensor" type_attr: "T" }
  input_arg { name: "axis" type_attr: "Tidx" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "Tidx" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
