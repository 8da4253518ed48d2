// Einsum over one or two float operands, as attention and EinsumDense layers
// export it.
//
// Two operands become one batched matrix product: labels in both operands
// and the output are batch axes (broadcast NumPy-style), labels in both but
// not the output are contracted, the rest are the free rows of one operand
// or the free columns of the other. Labels in one operand only and not in
// the output are summed away first. Each operand is permuted to
// [batch, rows, contracted] (or read transposed when it already is
// [batch, contracted, rows]), the product runs through BatchedMatMul, and the
// result is permuted to the output order. Both operand orders are tried and
// the one needing fewer copies is taken, so the usual attention equations
// ("bhqd,bhkd->bhqk", "aecd,abcd->acbe") copy little or nothing.
#include <algorithm>
#include <map>
#include <string>

#include "core/kernel.h"
#include "kernels/dnnl/batched_mat_mul.h"
#include "kernels/einsum_equation.h"
#include "kernels/permute.h"

namespace qtf {
namespace {

using Labels = std::vector<int>;

bool contains(const Labels& labels, int l) {
  return std::find(labels.begin(), labels.end(), l) != labels.end();
}

int64_t position(const Labels& labels, int l) {
  return std::find(labels.begin(), labels.end(), l) - labels.begin();
}

bool is_identity(const std::vector<int64_t>& perm) {
  for (size_t i = 0; i < perm.size(); ++i) {
    if (perm[i] != static_cast<int64_t>(i)) return false;
  }
  return true;
}

// The axes of `from` in the order of `to` (every label of `to` is in `from`).
std::vector<int64_t> perm_to(const Labels& from, const Labels& to) {
  std::vector<int64_t> perm;
  for (int l : to) perm.push_back(position(from, l));
  return perm;
}

Labels concat(std::initializer_list<const Labels*> parts) {
  Labels out;
  for (const Labels* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

// Sums the axes of x whose label is not in `keep`; `labels` becomes the
// labels of the remaining axes, in their order in x.
Tensor sum_axes(const Tensor& x, Labels* labels, const Labels& keep) {
  Labels kept, summed;
  for (int l : *labels) (contains(keep, l) ? kept : summed).push_back(l);
  if (summed.empty()) return x;
  Tensor grouped = permute_axes(x, perm_to(*labels, concat({&kept, &summed})));
  Shape kept_shape;
  for (int l : kept) kept_shape.push_back(x.dim(static_cast<int>(position(*labels, l))));
  const int64_t rows = num_elements(kept_shape);
  const int64_t inner = rows == 0 ? 0 : x.num_elements() / std::max<int64_t>(rows, 1);
  Tensor out = Tensor::allocate(TF_FLOAT, kept_shape);
  const float* src = grouped.data<float>();
  for (int64_t r = 0; r < rows; ++r) {
    double acc = 0;
    for (int64_t i = 0; i < inner; ++i) acc += src[r * inner + i];
    out.data<float>()[r] = static_cast<float>(acc);
  }
  *labels = kept;
  return out;
}

// The operand layouts of one product order: first operand X, second Y.
struct ProductLayout {
  Labels batch, rows, contracted, cols;
  std::vector<int64_t> x_perm, y_perm, out_perm;
  bool tx = false, ty = false;
  int copies = 0;
};

ProductLayout layout(const Labels& x, const Labels& y, const Labels& out) {
  ProductLayout p;
  for (int l : x) {
    if (!contains(y, l)) p.rows.push_back(l);
    else if (contains(out, l)) p.batch.push_back(l);
    else p.contracted.push_back(l);
  }
  for (int l : y) {
    if (!contains(x, l)) p.cols.push_back(l);
  }
  p.x_perm = perm_to(x, concat({&p.batch, &p.rows, &p.contracted}));
  if (!is_identity(p.x_perm)) {
    std::vector<int64_t> t = perm_to(x, concat({&p.batch, &p.contracted, &p.rows}));
    if (is_identity(t)) p.x_perm = t, p.tx = true;
  }
  p.y_perm = perm_to(y, concat({&p.batch, &p.contracted, &p.cols}));
  if (!is_identity(p.y_perm)) {
    std::vector<int64_t> t = perm_to(y, concat({&p.batch, &p.cols, &p.contracted}));
    if (is_identity(t)) p.y_perm = t, p.ty = true;
  }
  p.out_perm = perm_to(concat({&p.batch, &p.rows, &p.cols}), out);
  p.copies = !is_identity(p.x_perm) + !is_identity(p.y_perm) + !is_identity(p.out_perm);
  return p;
}

class EinsumKernel : public OpKernel {
 public:
  EinsumKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    DataType t = TF_FLOAT;
    int64_t n = 0;
    *status = attrs.get_string("equation", &equation_);
    if (status->is_ok()) *status = attrs.get_int("N", &n);
    if (status->is_ok()) *status = attrs.get_type("T", &t);
    if (!status->is_ok()) return;
    if (t != TF_FLOAT) {
      *status = unimplemented(where_ + "type " + dtype_name(t) + " is not supported (float only)");
      return;
    }
    *status = parse_einsum(where_, equation_, static_cast<int>(n), &eq_);
  }

  Status compute(OpKernelContext& ctx) override {
    std::vector<int> ranks;
    for (int i = 0; i < ctx.num_inputs(); ++i) {
      if (ctx.input(i).dtype() != TF_FLOAT) {
        return invalid_argument(where_ + "inputs must be float, got " +
                                dtype_name(ctx.input(i).dtype()));
      }
      ranks.push_back(ctx.input(i).rank());
    }
    if (ranks.size() != eq_.inputs.size()) {
      return invalid_argument(where_ + "expected " + std::to_string(eq_.inputs.size()) + " inputs");
    }
    std::vector<Labels> in_labels;
    Labels out_labels;
    QTF_RETURN_IF_ERROR(expand_einsum(where_, equation_, eq_, ranks, &in_labels, &out_labels));
    // Every label's size; a label may be 1 in one operand (broadcast).
    std::map<int, int64_t> size;
    for (size_t i = 0; i < in_labels.size(); ++i) {
      for (size_t d = 0; d < in_labels[i].size(); ++d) {
        const int64_t s = ctx.input(static_cast<int>(i)).dim(static_cast<int>(d));
        auto [it, fresh] = size.emplace(in_labels[i][d], s);
        if (fresh || it->second == s || s == 1) continue;
        if (it->second != 1) {
          return invalid_argument(where_ + "operand sizes " +
                                  shape_string(ctx.input(0).shape()) + " and " +
                                  shape_string(ctx.input(1).shape()) +
                                  " do not agree for einsum equation '" + equation_ + "'");
        }
        it->second = s;
      }
    }
    if (in_labels.size() == 1) {
      Labels labels = in_labels[0];
      Tensor reduced = sum_axes(ctx.input(0), &labels, out_labels);
      ctx.set_output(0, permute_axes(reduced, perm_to(labels, out_labels)));
      return Status::ok();
    }
    Labels a_labels = in_labels[0], b_labels = in_labels[1];
    const Labels a_keep = concat({&b_labels, &out_labels}), b_keep = concat({&a_labels, &out_labels});
    Tensor a = sum_axes(ctx.input(0), &a_labels, a_keep);
    Tensor b = sum_axes(ctx.input(1), &b_labels, b_keep);
    const ProductLayout ab = layout(a_labels, b_labels, out_labels);
    const ProductLayout ba = layout(b_labels, a_labels, out_labels);
    const bool swap = ba.copies < ab.copies;
    return product(swap ? ba : ab, swap ? b : a, swap ? b_labels : a_labels, swap ? a : b,
                   swap ? a_labels : b_labels, ctx);
  }

 private:
  Status product(const ProductLayout& p, const Tensor& x, const Labels& x_labels, const Tensor& y,
                 const Labels& y_labels, OpKernelContext& ctx) {
    const auto dims_of = [](const Tensor& t, const Labels& labels, const Labels& which) {
      Shape s;
      for (int l : which) s.push_back(t.dim(static_cast<int>(position(labels, l))));
      return s;
    };
    const Shape rows = dims_of(x, x_labels, p.rows), cols = dims_of(y, y_labels, p.cols);
    const Shape kx = dims_of(x, x_labels, p.contracted), ky = dims_of(y, y_labels, p.contracted);
    if (kx != ky) {
      return invalid_argument(where_ + "contracted sizes " + shape_string(kx) + " and " +
                              shape_string(ky) + " differ in einsum equation '" + equation_ + "'");
    }
    BroadcastPlan plan;
    Status s = make_broadcast_plan(dims_of(x, x_labels, p.batch), dims_of(y, y_labels, p.batch),
                                   &plan);
    if (!s.is_ok()) return invalid_argument(where_ + "batch " + s.message());
    const Tensor xp = permute_axes(x, p.x_perm), yp = permute_axes(y, p.y_perm);
    Shape result_shape = plan.out_shape;
    result_shape.insert(result_shape.end(), rows.begin(), rows.end());
    result_shape.insert(result_shape.end(), cols.begin(), cols.end());
    Tensor result = Tensor::allocate(TF_FLOAT, result_shape);
    std::vector<int64_t> x_index, y_index;
    broadcast_matrix_sources(plan, &x_index, &y_index);
    const MatMulDims dims{num_elements(rows), num_elements(kx), num_elements(cols), p.tx, p.ty};
    QTF_RETURN_IF_ERROR(matmul_.run(where_, dims, xp.data<float>(), yp.data<float>(),
                                    result.data<float>(), x_index, y_index));
    ctx.set_output(0, permute_axes(result, p.out_perm));
    return Status::ok();
  }

  std::string where_;
  std::string equation_;
  EinsumEquation eq_;
  BatchedMatMul matmul_;
};

}  // namespace

QTF_REGISTER_KERNEL("Einsum", EinsumKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Einsum"
  input_arg { name: "inputs" type_attr: "T" number_attr: "N" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "equation" type: "string" }
  attr { name: "N" type: "int" has_minimum: true minimum: 1 }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
