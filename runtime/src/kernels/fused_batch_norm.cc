// FusedBatchNorm, FusedBatchNormV2 and FusedBatchNormV3 in inference form:
// y = (x - mean) * scale / sqrt(variance + epsilon) + offset over the
// channel axis (last for NHWC/NDHWC, second for NCHW/NCDHW). The versions
// differ only in their type attributes and V3's extra reserve output.
//
// is_training defaults to true in the op's definition; batch statistics are
// a training-time feature, so such nodes are refused when the graph is
// instantiated rather than silently normalised with the stored moments.
#include <cmath>
#include <vector>

#include "core/kernel.h"

namespace qtf {
namespace {

class FusedBatchNormKernel : public OpKernel {
 public:
  FusedBatchNormKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    DataType t = TF_FLOAT, u = TF_FLOAT;
    bool training = true;
    *status = attrs.get_type("T", &t);
    // The first version has one type for everything.
    if (status->is_ok() && attrs.op() != "FusedBatchNorm") *status = attrs.get_type("U", &u);
    if (status->is_ok()) *status = attrs.get_float("epsilon", &epsilon_);
    if (status->is_ok()) *status = attrs.get_bool("is_training", &training);
    if (!status->is_ok()) return;
    const std::string format = attrs.string_or("data_format", "NHWC");
    if (t != TF_FLOAT || u != TF_FLOAT) {
      *status = unimplemented(where_ + "only float inputs are supported");
    } else if (training) {
      *status = unimplemented(where_ + "is_training=true (batch statistics) is not supported");
    } else if (format == "NCHW" || format == "NCDHW") {
      channels_first_ = true;
    } else if (format != "NHWC" && format != "NDHWC") {
      *status = unimplemented(where_ + "data_format " + format + " is not supported");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& x = ctx.input(0);
    if (x.dtype() != TF_FLOAT || x.rank() < (channels_first_ ? 2 : 1)) {
      return invalid_argument(where_ + "x must be a float tensor, got " + dtype_name(x.dtype()) +
                              shape_string(x.shape()));
    }
    const int64_t c = x.dim(channels_first_ ? 1 : x.rank() - 1);
    static const char* const kNames[] = {"scale", "offset", "mean", "variance"};
    for (int i = 1; i <= 4; ++i) {
      const Tensor& p = ctx.input(i);
      if (p.dtype() != TF_FLOAT || p.shape() != Shape{c}) {
        return invalid_argument(where_ + kNames[i - 1] + " must be float [" + std::to_string(c) +
                                "], got " + dtype_name(p.dtype()) + shape_string(p.shape()));
      }
    }
    const float* scale = ctx.input(1).data<float>();
    const float* offset = ctx.input(2).data<float>();
    const float* mean = ctx.input(3).data<float>();
    const float* variance = ctx.input(4).data<float>();
    // Fold into y = x * a + b per channel.
    std::vector<float> gain(static_cast<size_t>(c)), shift(static_cast<size_t>(c));
    for (int64_t k = 0; k < c; ++k) {
      const float a = scale[k] / std::sqrt(variance[k] + epsilon_);
      gain[static_cast<size_t>(k)] = a;
      shift[static_cast<size_t>(k)] = offset[k] - mean[k] * a;
    }
    Tensor y = x.is_sole_owner() ? x : Tensor::allocate(TF_FLOAT, x.shape());
    const float* xp = x.data<float>();
    float* yp = y.data<float>();
    if (channels_first_) {
      // [N, C, spatial...]: each (n, c) plane is contiguous.
      const int64_t plane = c == 0 || x.dim(0) == 0 ? 0 : x.num_elements() / (x.dim(0) * c);
      for (int64_t p = 0; p < x.dim(0) * c; ++p) {
        const size_t ch = static_cast<size_t>(p % c);
        for (int64_t i = 0; i < plane; ++i) {
          yp[p * plane + i] = xp[p * plane + i] * gain[ch] + shift[ch];
        }
      }
    } else {
      const int64_t rows = c == 0 ? 0 : x.num_elements() / c;
      for (int64_t r = 0; r < rows; ++r) {
        for (int64_t k = 0; k < c; ++k) {
          const size_t ch = static_cast<size_t>(k);
          yp[r * c + k] = xp[r * c + k] * gain[ch] + shift[ch];
        }
      }
    }
    ctx.set_output(0, std::move(y));
    // Inference passes the moments through, as TensorFlow does.
    if (ctx.num_outputs() >= 5) {
      ctx.set_output(1, ctx.input(3));
      ctx.set_output(2, ctx.input(4));
      ctx.set_output(3, ctx.input(3));
      ctx.set_output(4, ctx.input(4));
    }
    if (ctx.num_outputs() >= 6) ctx.allocate_output(5, TF_FLOAT, {0});
    return Status::ok();
  }

 private:
  std::string where_;
  float epsilon_ = 0.0001f;
  bool channels_first_ = false;
};

}  // namespace

QTF_REGISTER_KERNEL("FusedBatchNorm", FusedBatchNormKernel);
QTF_REGISTER_KERNEL("FusedBatchNormV2", FusedBatchNormKernel);
QTF_REGISTER_KERNEL("FusedBatchNormV3", FusedBatchNormKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "FusedBatchNorm"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "scale" type_attr: "T" }
  input_arg { name: "offset" type_attr: "T" }
  input_arg { name: "mean" type_attr: "T" }
  input_arg { name: "variance" type_attr: "T" }
  output_arg { name: "y" type_attr: "T" }
  output_arg { name: "batch_mean" type_attr: "T" }
  output_arg { name: "batch_variance" type_attr: "T" }
  output_arg { name: "reserve_space_1" type_attr: "T" }
  output_arg { name: "reserve_space_2" type_attr: "T" }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_FLOAT] } } }
  attr { name: "epsilon" type: "float" default_value { f: 0.0001 } }
  attr { name: "exponential_avg_factor" type: "float" default_value { f: 1 } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "is_training" type: "bool" default_value { b: true } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "FusedBatchNormV2"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "scale" type_attr: "U" }
  input_arg { name: "offset" type_attr: "U" }
  input_arg { name: "mean" type_attr: "U" }
  input_arg { name: "variance" type_attr: "U" }
  output_arg { name: "y" type_attr: "T" }
  output_arg { name: "batch_mean" type_attr: "U" }
  output_arg { name: "batch_variance" type_attr: "U" }
  output_arg { name: "reserve_space_1" type_attr: "U" }
  output_arg { name: "reserve_space_2" type_attr: "U" }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT] } } }
  attr { name: "U" type: "type" allowed_values { list { type: [DT_FLOAT] } } }
  attr { name: "epsilon" type: "float" default_value { f: 0.0001 } }
  attr { name: "exponential_avg_factor" type: "float" default_value { f: 1 } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "is_training" type: "bool" default_value { b: true } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "FusedBatchNormV3"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "scale" type_attr: "U" }
  input_arg { name: "offset" type_attr: "U" }
  input_arg { name: "mean" type_attr: "U" }
  input_arg { name: "variance" type_attr: "U" }
  output_arg { name: "y" type_attr: "T" }
  output_arg { name: "batch_mean" type_attr: "U" }
  output_arg { name: "batch_variance" type_attr: "U" }
  output_arg { name: "reserve_space_1" type_attr: "U" }
  output_arg { name: "reserve_space_2" type_attr: "U" }
  output_arg { name: "reserve_space_3" type_attr: "U" }
  attr { name: "T" type: "type" allowed_values { list { type: [DT_HALF, DT_BFLOAT16, DT_FLOAT] } } }
  attr { name: "U" type: "type" allowed_values { list { type: [DT_FLOAT] } } }
  attr { name: "epsilon" type: "float" default_value { f: 0.0001 } }
  attr { name: "exponential_avg_factor" type: "float" default_value { f: 1 } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW", "NDHWC", "NCDHW"] } } }
  attr { name: "is_training" type: "bool" default_value { b: true } })pb");

}  // namespace qtf
