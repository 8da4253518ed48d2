// MatMul and BatchMatMulV2 through oneDNN's matmul primitive (float).
//
// Both run one 2-D [M,K] x [K,N] primitive, cached per shape; transposed
// operands are described by a column-major layout instead of being copied.
// BatchMatMulV2 broadcasts the leading (batch) axes NumPy-style and runs the
// primitive once per output matrix on offset pointers.
#include <deque>
#include <mutex>

#include "core/kernel.h"
#include "kernels/broadcast.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using dnnl::memory;
using tag = dnnl::memory::format_tag;

class MatMulKernel : public OpKernel {
 public:
  MatMulKernel(const NodeAttrs& attrs, Status* status, bool batched)
      : where_(attrs.where()), batched_(batched) {
    DataType t = TF_FLOAT;
    *status = attrs.get_type("T", &t);
    if (status->is_ok()) *status = attrs.get_bool(batched ? "adj_x" : "transpose_a", &ta_);
    if (status->is_ok()) *status = attrs.get_bool(batched ? "adj_y" : "transpose_b", &tb_);
    if (status->is_ok() && t != TF_FLOAT) {
      *status = unimplemented(where_ + "type " + dtype_name(t) + " is not supported (float only)");
    }
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
    if (k == 0) {
      for (int64_t i = 0; i < out.num_elements(); ++i) out.data<float>()[i] = 0.f;
      return Status::ok();
    }
    std::vector<int64_t> a_index, b_index;
    batch_sources(plan, &a_index, &b_index);

    std::lock_guard<std::mutex> lock(mu_);
    Plan* p = nullptr;
    QTF_RETURN_IF_ERROR(find_plan(m, k, n, &p));
    return dnnl_call(where_, [&] {
      dnnl::stream& stream = dnnl_stream();
      float* ap = a.data<float>();
      float* bp = b.data<float>();
      float* op = out.data<float>();
      for (size_t i = 0; i < a_index.size(); ++i) {
        memory src(p->pd.src_desc(), dnnl_engine(), ap + a_index[i] * m * k);
        memory weights(p->pd.weights_desc(), dnnl_engine(), bp + b_index[i] * k * n);
        memory dst(p->pd.dst_desc(), dnnl_engine(), op + static_cast<int64_t>(i) * m * n);
        p->primitive.execute(stream, {{DNNL_ARG_SRC, src},
                                      {DNNL_ARG_WEIGHTS, weights},
                                      {DNNL_ARG_DST, dst}});
      }
      stream.wait();
    });
  }

 private:
  struct Plan {
    int64_t m, k, n;
    dnnl::matmul::primitive_desc pd;
    dnnl::matmul primitive;
  };

  // Matrix index in a and in b for each output matrix, in output order.
  static void batch_sources(const BroadcastPlan& plan, std::vector<int64_t>* a_index,
                            std::vector<int64_t>* b_index) {
    const int64_t total = num_elements(plan.out_shape);
    a_index->resize(static_cast<size_t>(total));
    b_index->resize(static_cast<size_t>(total));
    // Walk the plan's merged loops like broadcast_loop does.
    const size_t rank = plan.dims.size();
    std::vector<int64_t> index(rank, 0);
    int64_t ao = 0, bo = 0;
    for (int64_t i = 0; i < total; ++i) {
      (*a_index)[static_cast<size_t>(i)] = ao;
      (*b_index)[static_cast<size_t>(i)] = bo;
      for (size_t d = rank; d-- > 0;) {
        ao += plan.x_strides[d];
        bo += plan.y_strides[d];
        if (++index[d] < plan.dims[d]) break;
        ao -= plan.x_strides[d] * plan.dims[d];
        bo -= plan.y_strides[d] * plan.dims[d];
        index[d] = 0;
      }
    }
  }

  Status find_plan(int64_t m, int64_t k, int64_t n, Plan** out) {
    for (Plan& p : plans_) {
      if (p.m == m && p.k == k && p.n == n) {
        *out = &p;
        return Status::ok();
      }
    }
    Plan plan{m, k, n, {}, {}};
    QTF_RETURN_IF_ERROR(dnnl_call(where_, [&] {
      const auto dt = memory::data_type::f32;
      // A transposed operand is the plain one read column-major ("ba").
      memory::desc a_md({m, k}, dt, ta_ ? tag::ba : tag::ab);
      memory::desc b_md({k, n}, dt, tb_ ? tag::ba : tag::ab);
      memory::desc c_md({m, n}, dt, tag::ab);
      plan.pd = dnnl::matmul::primitive_desc(dnnl::matmul::desc(a_md, b_md, c_md), dnnl_engine());
      plan.primitive = dnnl::matmul(plan.pd);
      count_dnnl_primitive();
    }));
    plans_.push_back(std::move(plan));
    *out = &plans_.back();
    return Status::ok();
  }

  std::string where_;
  bool batched_;
  bool ta_ = false, tb_ = false;
  std::mutex mu_;
  std::deque<Plan> plans_;
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
