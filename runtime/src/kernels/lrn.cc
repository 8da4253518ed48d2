// LRN (local response normalisation across channels, as in AlexNet-era
// networks): output = input / (bias + alpha * sum of squares over the
// channels [c - depth_radius, c + depth_radius]) ^ beta, on the last axis.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "kernels/parallel.h"

namespace qtf {
namespace {

class LrnKernel : public OpKernel {
 public:
  LrnKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    DataType t = TF_FLOAT;
    *status = attrs.get_type("T", &t);
    if (status->is_ok()) *status = attrs.get_int("depth_radius", &radius_);
    if (status->is_ok()) *status = attrs.get_float("bias", &bias_);
    if (status->is_ok()) *status = attrs.get_float("alpha", &alpha_);
    if (status->is_ok()) *status = attrs.get_float("beta", &beta_);
    if (!status->is_ok()) return;
    if (t != TF_FLOAT) {
      *status = unimplemented(where_ + "type " + dtype_name(t) + " is not supported (float only)");
    } else if (radius_ < 0) {
      *status = invalid_argument(where_ + "depth_radius must not be negative, got " +
                                 std::to_string(radius_));
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != TF_FLOAT || x.rank() != 4) {
      return invalid_argument(where_ + "input must be a rank-4 float tensor, got " +
                              dtype_name(x.dtype()) + shape_string(x.shape()));
    }
    Tensor& y = ctx.allocate_output(0, TF_FLOAT, x.shape());
    const int64_t c = x.dim(3);
    const int64_t rows = c == 0 ? 0 : x.num_elements() / c;
    const float* xp = x.data<float>();
    float* yp = y.data<float>();
    parallel_for(rows, x.num_elements(), [&](int64_t begin, int64_t end) {
      for (int64_t r = begin; r < end; ++r) {
        const float* in = xp + r * c;
        float* out = yp + r * c;
        for (int64_t k = 0; k < c; ++k) {
          const int64_t lo = std::max<int64_t>(0, k - radius_);
          const int64_t hi = std::min<int64_t>(c - 1, k + radius_);
          float sum = 0.f;
          for (int64_t j = lo; j <= hi; ++j) sum += in[j] * in[j];
          out[k] = in[k] / std::pow(bias_ + alpha_ * sum, beta_);
        }
      }
    });
    return Status::ok();
  }

 private:
  std::string where_;
  int64_t radius_ = 5;
  float bias_ = 1.f, alpha_ = 1.f, beta_ = 0.5f;
};

}  // namespace

QTF_REGISTER_KERNEL("LRN", LrnKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "LRN"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "depth_radius" type: "int" default_value { i: 5 } }
  attr { name: "bias" type: "float" default_value { f: 1 } }
  attr { name: "alpha" type: "float" default_value { f: 1 } }
  attr { name: "beta" type: "float" default_value { f: 0.5 } }
  attr { name: "T" type: "type" default_value { type: DT_FLOAT }
         allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT] } } })pb");

}  // namespace qtf
