// Select and SelectV2: output = condition ? t : e.
//
// SelectV2 broadcasts all three inputs. Select (V1) needs t and e of one
// shape and a condition that is a scalar, of that same shape, or a vector
// choosing whole rows along the first dimension; the vector case is run as
// a broadcast of condition reshaped to [n, 1, ..., 1].
#include <cstring>

#include "core/kernel.h"
#include "kernels/broadcast.h"

namespace qtf {
namespace {

// Element strides of `s` (right-aligned to `out`), 0 on broadcast axes.
std::vector<int64_t> broadcast_strides(const Shape& s, const Shape& out) {
  const size_t rank = out.size();
  std::vector<int64_t> st(rank, 0);
  int64_t step = 1;
  for (size_t k = 0; k < s.size(); ++k) {
    const size_t d = rank - 1 - k;
    const int64_t dim = s[s.size() - 1 - k];
    st[d] = dim == 1 ? 0 : step;
    step *= dim;
  }
  return st;
}

class SelectKernel : public OpKernel {
 public:
  SelectKernel(const NodeAttrs& attrs, Status* status, bool v2)
      : where_(attrs.where()), v2_(v2) {
    *status = attrs.get_type("T", &dtype_);
    if (status->is_ok() && dtype_ == TF_STRING) {
      *status = unimplemented(where_ + "string inputs are not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    Tensor cond = ctx.input(0);
    const Tensor& t = ctx.input(1);
    const Tensor& e = ctx.input(2);
    if (cond.dtype() != TF_BOOL || t.dtype() != dtype_ || e.dtype() != dtype_) {
      return invalid_argument(where_ + "expected a bool condition and two " + dtype_name(dtype_) +
                              " inputs");
    }
    if (!v2_) {
      if (t.shape() != e.shape()) {
        return invalid_argument(where_ + "t " + shape_string(t.shape()) + " and e " +
                                shape_string(e.shape()) + " must have the same shape");
      }
      if (cond.rank() == 1 && t.rank() > 1 && cond.dim(0) == t.dim(0)) {
        Shape rows(static_cast<size_t>(t.rank()), 1);
        rows[0] = cond.dim(0);
        cond = cond.reshaped(rows);
      } else if (cond.rank() != 0 && cond.shape() != t.shape()) {
        return invalid_argument(where_ + "condition " + shape_string(cond.shape()) +
                                " must be a scalar, a vector over the first dimension or of "
                                "shape " + shape_string(t.shape()));
      }
    }
    BroadcastPlan ct, all;
    Status s = make_broadcast_plan(cond.shape(), t.shape(), &ct);
    if (s.is_ok()) s = make_broadcast_plan(ct.out_shape, e.shape(), &all);
    if (!s.is_ok()) return invalid_argument(where_ + s.message());
    const Shape& out_shape = all.out_shape;
    Tensor& out = ctx.allocate_output(0, dtype_, out_shape);
    const int64_t total = out.num_elements();
    if (total == 0) return Status::ok();

    const std::vector<int64_t> cs = broadcast_strides(cond.shape(), out_shape);
    const std::vector<int64_t> ts = broadcast_strides(t.shape(), out_shape);
    const std::vector<int64_t> es = broadcast_strides(e.shape(), out_shape);
    const size_t rank = out_shape.size();
    const size_t bytes = dtype_size(dtype_);
    const bool* c = cond.data<bool>();
    const char* tp = static_cast<const char*>(t.raw());
    const char* ep = static_cast<const char*>(e.raw());
    char* op = static_cast<char*>(out.raw());
    std::vector<int64_t> index(rank, 0);
    int64_t co = 0, to = 0, eo = 0;
    for (int64_t k = 0; k < total; ++k) {
      const char* src = c[co] ? tp + static_cast<size_t>(to) * bytes
                              : ep + static_cast<size_t>(eo) * bytes;
      std::memcpy(op + static_cast<size_t>(k) * bytes, src, bytes);
      for (size_t d = rank; d-- > 0;) {
        co += cs[d];
        to += ts[d];
        eo += es[d];
        if (++index[d] < out_shape[d]) break;
        co -= cs[d] * out_shape[d];
        to -= ts[d] * out_shape[d];
        eo -= es[d] * out_shape[d];
        index[d] = 0;
      }
    }
    return Status::ok();
  }

 private:
  std::string where_;
  bool v2_;
  DataType dtype_ = TF_FLOAT;
};

struct SelectV1Kernel : SelectKernel {
  SelectV1Kernel(const NodeAttrs& attrs, Status* status) : SelectKernel(attrs, status, false) {}
};
struct SelectV2Kernel : SelectKernel {
  SelectV2Kernel(const NodeAttrs& attrs, Status* status) : SelectKernel(attrs, status, true) {}
};

}  // namespace

QTF_REGISTER_KERNEL("Select", SelectV1Kernel);
QTF_REGISTER_KERNEL("SelectV2", SelectV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Select"
  input_arg { name: "condition" type: DT_BOOL }
  input_arg { name: "t" type_attr: "T" }
  input_arg { name: "e" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "SelectV2"
  input_arg { name: "condition" type: DT_BOOL }
  input_arg { name: "t" type_attr: "T" }
  input_arg { name: "e" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
