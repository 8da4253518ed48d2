// MatMul and BatchMatMulV2 through oneDNN's matmul primitive (float).
//
// BatchMatMulV2 broadcasts the leading (batch) axes NumPy-style; the
// products run through BatchedMatMul (batched_mat_mul.h).
#include "core/kernel.h"
#include "kernels/broadcast.h"
#include "kernels/dnnl/batched_mat_mul.h"

namespace qtf {
namespace {

class MatMulKernel : public OpKernel {
 public:
  MatMulKernel(const NodeAttrs& attrs, Status* status, bool batched)
      : where_(attrs.where()), batched_(batched) {
    *status = require_float_type(attrs);
    if (status->is_ok()) *status = attrs.get_bool(batched ? "adj_x" : "transpose_a", &ta_);
    if (status->is_ok()) *status = attrs.get_bool(batched ? "adj_y" : "transpose_b", &tb_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& a = ctx.input(0);
    const Tensor& b = ctx.input(1);
    if (a.dtype() != TF_FLOAT || b.dtype() != TF_FLOAT) {
      return invalid_argument(where_ + "inputs must be float");
    }
    const bool ranks_ok = batched_ ? (a.rank() >= 2 && b.rank() >= 2) : (a.rank() == 2 && b.rank() == 2);
    if (!ranks_ok) {
      return invalid_argument(where_ + "inputs must be " + (batched_ ? "at least " : "") +
                              "rank 2, got " + shape_string(a.shape()) + " and " +
                              shape_string(b.shape()));
    }
    const int ar = a.rank(), br = b.rank();
    const int64_t m = ta_ ? a.dim(ar - 1) : a.dim(ar - 2);
    const int64_t k = ta_ ? a.dim(ar - 2) : a.dim(ar - 1);
    const int64_t kb = tb_ ? b.dim(br - 1) : b.dim(br - 2);
    const int64_t n = tb_ ? b.dim(br - 2) : b.dim(br - 1);
    if (k != kb) {
      return invalid_argument(where_ + "inner dimensions differ: " + shape_string(a.shape()) +
                              (ta_ ? "^T" : "") + " x " + shape_string(b.shape()) +
                              (tb_ ? "^T" : ""));
    }
    // Batch axes: broadcast, then per output matrix the source matrices.
    const Shape a_batch(a.shape().begin(), a.shape().end() - 2);
    const Shape b_batch(b.shape().begin(), b.shape().end() - 2);
    BroadcastPlan plan;
    Status s = make_broadcast_plan(a_batch, b_batch, &plan);
    if (!s.is_ok()) return invalid_argument(where_ + "batch " + s.message());
    Shape out_shape = plan.out_shape;
    out_shape.push_back(m);
    out_shape.push_back(n);
    Tensor& out = ctx.allocate_output(0, TF_FLOAT, out_shape);
    if (out.num_elements() == 0) return Status::ok();
    std::vector<int64_t> a_index, b_index;
    broadcast_matrix_sources(plan, &a_index, &b_index);
    return matmul_.run(where_, MatMulDims{m, k, n, ta_, tb_}, a.data<float>(), b.data<float>(),
                       out.data<float>(), a_index, b_index);
  }

 private:
  std::string where_;
  bool batched_;
  bool ta_ = false, tb_ = false;
  BatchedMatMul matmul_;
};

struct MatMul2DKernel : MatMulKernel {
  MatMul2DKernel(const NodeAttrs& a, Status* s) : MatMulKernel(a, s, false) {}
};
struct BatchMatMulV2Kernel : MatMulKernel {
  BatchMatMulV2Kernel(const NodeAttrs& a, Status* s) : MatMulKernel(a, s, true) {}
};

}  // namespace

QTF_REGISTER_KERNEL("MatMul", MatMul2DKernel);
QTF_REGISTER_KERNEL("BatchMatMulV2", BatchMatMulV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "MatMul"
  input_arg { name: "a" type_attr: "T" }
  input_arg { name: "b" type_attr: "T" }
  output_arg { name: "product" type_attr: "T" }
  attr { name: "transpose_a" type: "bool" default_value { b: false } }
  attr { name: "transpose_b" type: "bool" default_value { b: false } }
  attr { name: "grad_a" type: "bool" default_value { b: false } }
  attr { name: "grad_b" type: "bool" default_value { b: false } }
  attr { name: "T" type: "type" })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "BatchMatMulV2"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "y" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "adj_x" type: "bool" default_value { b: false } }
  attr { name: "adj_y" type: "bool" default_value { b: false } })pb");

}  // namespace qtf
