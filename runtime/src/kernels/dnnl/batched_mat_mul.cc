// Batched matmul through oneDNN.
#include "kernels/dnnl/batched_mat_mul.h"

#include <algorithm>

namespace qtf {
namespace {

using dnnl::memory;
using tag = dnnl::memory::format_tag;

bool is_identity(const std::vector<int64_t>& index) {
  for (size_t i = 0; i < index.size(); ++i) {
    if (index[i] != static_cast<int64_t>(i)) return false;
  }
  return true;
}

bool is_all_zero(const std::vector<int64_t>& index) {
  return std::all_of(index.begin(), index.end(), [](int64_t i) { return i == 0; });
}

}  // namespace

void broadcast_matrix_sources(const BroadcastPlan& plan, std::vector<int64_t>* x_index,
                              std::vector<int64_t>* y_index) {
  const int64_t total = num_elements(plan.out_shape);
  x_index->resize(static_cast<size_t>(total));
  y_index->resize(static_cast<size_t>(total));
  // Walk the plan's merged loops like broadcast_loop does.
  const size_t rank = plan.dims.size();
  std::vector<int64_t> index(rank, 0);
  int64_t xo = 0, yo = 0;
  for (int64_t i = 0; i < total; ++i) {
    (*x_index)[static_cast<size_t>(i)] = xo;
    (*y_index)[static_cast<size_t>(i)] = yo;
    for (size_t d = rank; d-- > 0;) {
      xo += plan.x_strides[d];
      yo += plan.y_strides[d];
      if (++index[d] < plan.dims[d]) break;
      xo -= plan.x_strides[d] * plan.dims[d];
      yo -= plan.y_strides[d] * plan.dims[d];
      index[d] = 0;
    }
  }
}

Status BatchedMatMul::run(const std::string& where, const MatMulDims& dims, const float* a,
                          const float* b, float* out, const std::vector<int64_t>& a_index,
                          const std::vector<int64_t>& b_index) {
  const int64_t count = static_cast<int64_t>(a_index.size());
  if (count == 0 || dims.m == 0 || dims.n == 0) return Status::ok();
  if (dims.k == 0) {
    std::fill(out, out + count * dims.m * dims.n, 0.f);
    return Status::ok();
  }
  std::lock_guard<std::mutex> lock(mu_);
  const bool paired = is_identity(a_index) && is_identity(b_index);
  if (count > 1 && paired) {
    Plan* p = nullptr;
    QTF_RETURN_IF_ERROR(find_plan(where, dims, count, &p));
    return dnnl_call(where, [&] {
      dnnl::stream& stream = dnnl_stream();
      memory src(p->pd.src_desc(), dnnl_engine(), const_cast<float*>(a));
      memory weights(p->pd.weights_desc(), dnnl_engine(), const_cast<float*>(b));
      memory dst(p->pd.dst_desc(), dnnl_engine(), out);
      p->primitive.execute(stream, {{DNNL_ARG_SRC, src}, {DNNL_ARG_WEIGHTS, weights},
                                    {DNNL_ARG_DST, dst}});
      stream.wait();
    });
  }
  MatMulDims single = dims;
  int64_t products = count;
  if (count > 1 && !dims.ta && is_identity(a_index) && is_all_zero(b_index)) {
    // Consecutive A matrices against one B are one taller A.
    single.m = dims.m * count;
    products = 1;
  }
  Plan* p = nullptr;
  QTF_RETURN_IF_ERROR(find_plan(where, single, 1, &p));
  return dnnl_call(where, [&] {
    dnnl::stream& stream = dnnl_stream();
    for (int64_t i = 0; i < products; ++i) {
      const size_t s = static_cast<size_t>(i);
      memory src(p->pd.src_desc(), dnnl_engine(), const_cast<float*>(a) + a_index[s] * dims.m * dims.k);
      memory weights(p->pd.weights_desc(), dnnl_engine(),
                     const_cast<float*>(b) + b_index[s] * dims.k * dims.n);
      memory dst(p->pd.dst_desc(), dnnl_engine(), out + i * dims.m * dims.n);
      p->primitive.execute(stream, {{DNNL_ARG_SRC, src}, {DNNL_ARG_WEIGHTS, weights},
                                    {DNNL_ARG_DST, dst}});
    }
    stream.wait();
  });
}

Status BatchedMatMul::find_plan(const std::string& where, const MatMulDims& d, int64_t batch,
                                Plan** out) {
  for (Plan& p : plans_) {
    if (p.batch == batch && p.dims.m == d.m && p.dims.k == d.k && p.dims.n == d.n &&
        p.dims.ta == d.ta && p.dims.tb == d.tb) {
      *out = &p;
      return Status::ok();
    }
  }
  Plan plan{d, batch, {}, {}};
  QTF_RETURN_IF_ERROR(dnnl_call(where, [&] {
    const auto dt = memory::data_type::f32;
    // A transposed operand is the plain one read column-major.
    const auto desc = [&](int64_t rows, int64_t cols, bool transposed) {
      if (batch == 1) return memory::desc({rows, cols}, dt, transposed ? tag::ba : tag::ab);
      return memory::desc({batch, rows, cols}, dt, transposed ? tag::acb : tag::abc);
    };
    const memory::desc a_md = desc(d.m, d.k, d.ta);
    const memory::desc b_md = desc(d.k, d.n, d.tb);
    const memory::desc c_md = desc(d.m, d.n, false);
    plan.pd = dnnl::matmul::primitive_desc(dnnl::matmul::desc(a_md, b_md, c_md), dnnl_engine());
    plan.primitive = dnnl::matmul(plan.pd);
    count_dnnl_primitive();
  }));
  plans_.push_back(std::move(plan));
  *out = &plans_.back();
  return Status::ok();
}

}  // namespace qtf
