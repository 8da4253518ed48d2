// TopKV2: the k largest entries of each last-axis row, largest first, and
// their indices. Equal values keep their order (lower index first). NaN
// counts as larger than every number so the order stays strict.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"
#include "kernels/index_input.h"

namespace qtf {
namespace {

template <typename T>
bool ranks_before(T a, int64_t ia, T b, int64_t ib) {
  if constexpr (std::is_floating_point<T>::value) {
    const bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb) return na && nb ? ia < ib : na;
  }
  return a > b || (a == b && ia < ib);
}

template <typename T, typename I>
void top_k(const Tensor& in, int64_t k, Tensor& values, Tensor& indices) {
  const int64_t n = in.dim(in.rank() - 1);
  const int64_t rows = n == 0 ? 0 : in.num_elements() / n;
  std::vector<int64_t> order(static_cast<size_t>(n));
  for (int64_t r = 0; r < rows; ++r) {
    const T* x = in.data<T>() + r * n;
    std::iota(order.begin(), order.end(), int64_t{0});
    std::partial_sort(order.begin(), order.begin() + k, order.end(),
                      [x](int64_t a, int64_t b) { return ranks_before(x[a], a, x[b], b); });
    for (int64_t j = 0; j < k; ++j) {
      values.data<T>()[r * k + j] = x[order[static_cast<size_t>(j)]];
      indices.data<I>()[r * k + j] = static_cast<I>(order[static_cast<size_t>(j)]);
    }
  }
}

class TopKV2Kernel : public OpKernel {
 public:
  TopKV2Kernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("T", &dtype_);
    // Exports before TensorFlow 2.16 have no index_type: their indices are int32.
    if (status->is_ok() && attrs.find("index_type") != nullptr) {
      *status = attrs.get_type("index_type", &index_type_);
    }
    if (!status->is_ok()) return;
    dispatch_numeric(dtype_, [&](auto tag) {
      using T = typename decltype(tag)::type;
      if (index_type_ == TF_INT32) loop_ = &top_k<T, int32_t>;
      if (index_type_ == TF_INT64) loop_ = &top_k<T, int64_t>;
    });
    if (loop_ == nullptr) {
      *status = unimplemented(where_ + "TopKV2 of " + dtype_name(dtype_) + " with " +
                              dtype_name(index_type_) + " indices is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& in = ctx.input(0);
    if (in.dtype() != dtype_) {
      return invalid_argument(where_ + "input is " + dtype_name(in.dtype()) + ", expected " +
                              dtype_name(dtype_));
    }
    if (in.rank() < 1) return invalid_argument(where_ + "input must be at least 1-D");
    int64_t k = 0;
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "k", &k));
    const int64_t n = in.dim(in.rank() - 1);
    if (k < 0) return invalid_argument(where_ + "Need k >= 0, got " + std::to_string(k));
    if (k > n) {
      return invalid_argument(where_ + "input must have at least k columns. Had " +
                              std::to_string(n) + ", needed " + std::to_string(k));
    }
    Shape out_shape = in.shape();
    out_shape.back() = k;
    Tensor& values = ctx.allocate_output(0, dtype_, out_shape);
    Tensor& indices = ctx.allocate_output(1, index_type_, out_shape);
    loop_(in, k, values, indices);
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT, index_type_ = TF_INT32;
  void (*loop_)(const Tensor&, int64_t, Tensor&, Tensor&) = nullptr;
};

}  // namespace

QTF_REGISTER_KERNEL("TopKV2", TopKV2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "TopKV2"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "k" type_attr: "Tk" }
  output_arg { name: "values" type_attr: "T" }
  output_arg { name: "indices" type_attr: "index_type" }
  attr { name: "sorted" type: "bool" default_value { b: true } }
  attr { name: "T" type: "type" }
  attr { name: "Tk" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } }
  attr { name: "index_type" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT16, DT_INT32, DT_INT64] } } })pb");

}  // namespace qtf
