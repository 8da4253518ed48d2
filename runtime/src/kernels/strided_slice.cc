// StridedSlice: Python-style slicing input[b0:e0:s0, ..., tf.newaxis, ...].
//
// The sparse slice (one entry per begin/end/strides element, with the five
// masks) is first expanded into a dense one with an entry per input
// dimension; the ellipsis covers the dimensions the slice does not name, and
// a slice without an ellipsis has an implicit one at its end. New axes and
// shrunk axes only change the final shape.
#include "core/kernel.h"
#include "kernels/index_input.h"
#include "kernels/strided_copy.h"

namespace qtf {
namespace {

constexpr int64_t kNewAxis = -1;
constexpr int64_t kShrinkAxis = -2;

struct DenseSlice {
  std::vector<int64_t> begin, end, strides;
  std::vector<bool> begin_masked, end_masked, shrink;
  // Per output dimension: the dense dimension it comes from, or kNewAxis;
  // shrunk dimensions are listed as kShrinkAxis and dropped.
  std::vector<int64_t> final_dims;
};

class StridedSliceKernel : public OpKernel {
 public:
  StridedSliceKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    for (auto [name, dst] : {std::pair<const char*, int64_t*>{"begin_mask", &begin_mask_},
                             {"end_mask", &end_mask_},
                             {"ellipsis_mask", &ellipsis_mask_},
                             {"new_axis_mask", &new_axis_mask_},
                             {"shrink_axis_mask", &shrink_axis_mask_}}) {
      *status = attrs.get_int(name, dst);
      if (!status->is_ok()) return;
    }
    if ((ellipsis_mask_ & (ellipsis_mask_ - 1)) != 0) {
      *status = invalid_argument(where_ + "more than one ellipsis in ellipsis_mask");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (!is_movable_dtype(in.dtype())) {
      return invalid_argument(where_ + "cannot slice " + dtype_name(in.dtype()) + " tensors");
    }
    std::vector<int64_t> begin, end, strides;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(1), where_, "begin", &begin));
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(2), where_, "end", &end));
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(3), where_, "strides", &strides));
    if (begin.size() != end.size() || begin.size() != strides.size()) {
      return invalid_argument(where_ + "begin, end and strides must have the same length");
    }
    if (begin.size() > 32) return invalid_argument(where_ + "too many slice entries");

    DenseSlice dense_slice;
    QTF_RETURN_IF_ERROR(build_dense(in.rank(), begin, end, strides, &dense_slice));

    const size_t rank = static_cast<size_t>(in.rank());
    std::vector<int64_t> sizes(rank);
    for (size_t d = 0; d < rank; ++d) {
      QTF_RETURN_IF_ERROR(resolve(d, in.dim(static_cast<int>(d)), &dense_slice, &sizes[d]));
    }
    Shape final_shape;
    for (int64_t g : dense_slice.final_dims) {
      if (g == kNewAxis) final_shape.push_back(1);
      else if (g >= 0) final_shape.push_back(sizes[static_cast<size_t>(g)]);
    }
    Tensor out = Tensor::allocate(in.dtype(), sizes);
    strided_copy(in, dense_slice.begin, dense_slice.strides, sizes, out);
    ctx.set_output(0, out.reshaped(final_shape));
    return Status::ok();
  }

 private:
  Status build_dense(int rank, const std::vector<int64_t>& begin, const std::vector<int64_t>& end,
                     const std::vector<int64_t>& strides, DenseSlice* dense_slice) const {
    int64_t ellipsis = ellipsis_mask_;
    size_t sparse = begin.size();
    if (ellipsis == 0) {
      ellipsis = int64_t{1} << sparse;  // implicit trailing ellipsis
      ++sparse;
    }
    int new_axes_after_ellipsis = 0;
    bool seen_ellipsis = false;
    for (size_t i = 0; i < sparse; ++i) {
      if (seen_ellipsis && ((new_axis_mask_ >> i) & 1) && !((ellipsis >> i) & 1)) {
        ++new_axes_after_ellipsis;
      }
      if ((ellipsis >> i) & 1) seen_ellipsis = true;
    }
    const size_t dense = static_cast<size_t>(rank);
    dense_slice->begin.assign(dense, 0);
    dense_slice->end.assign(dense, 0);
    dense_slice->strides.assign(dense, 1);
    dense_slice->begin_masked.assign(dense, false);
    dense_slice->end_masked.assign(dense, false);
    dense_slice->shrink.assign(dense, false);
    size_t full = 0;
    for (size_t i = 0; i < sparse; ++i) {
      if ((ellipsis >> i) & 1) {
        const int64_t remaining = static_cast<int64_t>(sparse) - static_cast<int64_t>(i) - 1;
        const int64_t next = std::min<int64_t>(
            rank, rank - remaining + new_axes_after_ellipsis);
        for (; static_cast<int64_t>(full) < next; ++full) {
          dense_slice->begin_masked[full] = dense_slice->end_masked[full] = true;
          dense_slice->final_dims.push_back(static_cast<int64_t>(full));
        }
      } else if ((new_axis_mask_ >> i) & 1) {
        dense_slice->final_dims.push_back(kNewAxis);
      } else {
        if (full >= dense) {
          return invalid_argument(where_ + "slice has more entries than the input's rank " +
                                  std::to_string(rank));
        }
        dense_slice->begin[full] = begin[i];
        dense_slice->end[full] = end[i];
        dense_slice->strides[full] = strides[i];
        dense_slice->begin_masked[full] = (begin_mask_ >> i) & 1;
        dense_slice->end_masked[full] = (end_mask_ >> i) & 1;
        dense_slice->shrink[full] = (shrink_axis_mask_ >> i) & 1;
        dense_slice->final_dims.push_back(dense_slice->shrink[full] ? kShrinkAxis : static_cast<int64_t>(full));
        ++full;
      }
    }
    return Status::ok();
  }

  // Clamps begin/end of dense dimension d against its size and gives the
  // number of elements taken.
  Status resolve(size_t d, int64_t dim, DenseSlice* dense_slice, int64_t* size) const {
    const int64_t stride = dense_slice->strides[d];
    if (stride == 0) return invalid_argument(where_ + "strides must be non-zero");
    if (dense_slice->shrink[d]) {
      const int64_t b = dense_slice->begin[d] < 0 ? dense_slice->begin[d] + dim : dense_slice->begin[d];
      if (b < 0 || b >= dim) {
        return invalid_argument(where_ + "slice index " + std::to_string(dense_slice->begin[d]) +
                                " of dimension " + std::to_string(d) + " is out of bounds");
      }
      dense_slice->begin[d] = b;
      dense_slice->strides[d] = 1;
      *size = 1;
      return Status::ok();
    }
    // Valid positions: [0, dim] walking forward, [-1, dim-1] walking back.
    const int64_t lo = stride > 0 ? 0 : -1;
    const int64_t hi = stride > 0 ? dim : dim - 1;
    auto canonical = [&](int64_t x, bool masked, bool is_begin) {
      if (masked) return (stride > 0) == is_begin ? lo : hi;
      const int64_t fwd = x < 0 ? x + dim : x;
      return fwd < lo ? lo : (fwd > hi ? hi : fwd);
    };
    const int64_t b = canonical(dense_slice->begin[d], dense_slice->begin_masked[d], true);
    const int64_t e = canonical(dense_slice->end[d], dense_slice->end_masked[d], false);
    dense_slice->begin[d] = b;
    const int64_t length = e - b;
    if (length == 0 || ((length < 0) != (stride < 0))) {
      *size = 0;
    } else {
      *size = length / stride + (length % stride != 0 ? 1 : 0);
    }
    return Status::ok();
  }

  std::string where_;
  int64_t begin_mask_ = 0, end_mask_ = 0, ellipsis_mask_ = 0, new_axis_mask_ = 0,
          shrink_axis_mask_ = 0;
};

}  // namespace

QTF_REGISTER_KERNEL("StridedSlice", StridedSliceKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "StridedSlice"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "begin" type_attr: "Index" }
  input_arg { name: "end" type_attr: "Index" }
  input_arg { name: "strides" type_attr: "Index" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "Index" type: "type" allowed_values { list { type: [DT_INT32, DT_INT64] } } }
  attr { name: "begin_mask" type: "int" default_value { i: 0 } }
  attr { name: "end_mask" type: "int" default_value { i: 0 } }
  attr { name: "ellipsis_mask" type: "int" default_value { i: 0 } }
  attr { name: "new_axis_mask" type: "int" default_value { i: 0 } }
  attr { name: "shrink_axis_mask" type: "int" default_value { i: 0 } })pb");

}  // namespace qtf
