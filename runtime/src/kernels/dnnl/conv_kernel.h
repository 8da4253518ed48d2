// Forward convolution through oneDNN for Conv2D, DepthwiseConv2dNative and
// Conv3D (channels-last input and output, TensorFlow filter layouts: HWIO,
// HWCM, DHWIO).
//
// Per input/filter shape the kernel keeps one implementation, chosen on the
// first input of that shape (conv_method.h), and the filter reordered into
// its layout. The reorder is redone
// only when a different filter buffer arrives (a reassigned variable);
// the plan holds a reference to the filter so its address stays meaningful.
// A depthwise filter [kh, kw, C, M] is a grouped convolution with C groups
// of M outputs each, which is exactly oneDNN's "hwigo" weights layout.
//
// The fused forms (_FusedConv2D, _FusedDepthwiseConv2dNative, made by the
// plan's convolution fusion) add the bias and the activation inside the
// convolution primitive, so the output is written once (see conv_fusion.h).
#pragma once

#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/kernel.h"
#include "kernels/dnnl/conv_fusion.h"
#include "kernels/dnnl/conv_method.h"
#include "kernels/dnnl/dnnl_context.h"
#include "kernels/window.h"

namespace qtf {

template <bool kDepthwise, int kSpatialRank = 2>
class ConvKernel : public OpKernel {
  static_assert(!kDepthwise || kSpatialRank == 2, "depthwise convolutions are 2-D");
  static constexpr int kRank = kSpatialRank + 2;

  using memory = dnnl::memory;
  using tag = dnnl::memory::format_tag;

 public:
  ConvKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = require_float_type(attrs);
    WindowForm form;
    form.spatial_rank = kSpatialRank;
    form.explicit_allowed = kSpatialRank == 2;  // Conv3D has no EXPLICIT padding
    if (status->is_ok()) *status = read_window_attrs(attrs, "dilations", &window_, form);
    if (status->is_ok() && attrs.op().rfind("_Fused", 0) == 0) {
      *status = read_conv_fusion(attrs, &fusion_);
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& input = ctx.input(0);
    const Tensor& filter = ctx.input(1);
    if (input.dtype() != TF_FLOAT || filter.dtype() != TF_FLOAT) {
      return invalid_argument(where_ + "input and filter must be float, got " +
                              dtype_name(input.dtype()) + " and " + dtype_name(filter.dtype()));
    }
    if (input.rank() != kRank || filter.rank() != kRank) {
      return invalid_argument(where_ + "input and filter must both be rank " +
                              std::to_string(kRank) + ", got " + shape_string(input.shape()) +
                              " and " + shape_string(filter.shape()));
    }
    if (input.dim(kRank - 1) != filter.dim(kSpatialRank)) {
      return invalid_argument(where_ + "input depth " + std::to_string(input.dim(kRank - 1)) +
                              " does not match filter " + shape_string(filter.shape()));
    }
    const int64_t out_c = kDepthwise ? filter.dim(2) * filter.dim(3) : filter.dim(kRank - 1);
    std::lock_guard<std::mutex> lock(mu_);
    const float* bias = nullptr;
    if (fusion_.bias) {
      if (ctx.num_inputs() < 3) return invalid_argument(where_ + "has no bias input");
      QTF_RETURN_IF_ERROR(fused_bias(ctx.input(2), out_c, &bias));
    }
    Plan* plan = nullptr;
    QTF_RETURN_IF_ERROR(find_plan(input.shape(), filter.shape(), &plan));
    Tensor& output = ctx.allocate_output(0, TF_FLOAT, plan->out_shape);
    if (output.num_elements() == 0 || input.num_elements() == 0) {
      // Every output is the empty sum: 0, then the bias and activation.
      float* out = output.data<float>();
      for (int64_t i = 0; i < output.num_elements(); ++i) {
        out[i] = apply_activation(fusion_, bias != nullptr ? bias[i % out_c] : 0.f);
      }
      return Status::ok();
    }
    return dnnl_call(where_, [&] {
      dnnl::stream& stream = dnnl_stream();
      if (!plan->chosen) {
        // First input of this shape: pick the method on it (see conv_method.h).
        memory user(plan->user_weights_md, dnnl_engine(), filter.raw());
        plan->impl = choose_conv_impl(where_, plan->geometry, conv_fusion_attr(fusion_), user, input.raw(),
                                      output.raw(), bias, stream);
        plan->weights = plan->impl.weights;
        plan->filter = filter;
        plan->chosen = true;
      }
      refresh_weights(*plan, filter, stream);  // plan->weights is the chosen impl's weights
      run_conv_impl(plan->impl, input.raw(), output.raw(), bias, stream);
    });
  }

 private:
  struct Plan {
    Shape input_shape, filter_shape, out_shape;
    ConvGeometry geometry;
    ConvImpl impl;  // valid once `chosen`
    bool chosen = false;
    memory::desc user_weights_md;
    memory weights;
    Tensor filter;  // the filter `weights` was reordered from
  };

  Status find_plan(const Shape& in, const Shape& f, Plan** out) {
    for (Plan& p : plans_) {
      if (p.input_shape == in && p.filter_shape == f) {
        *out = &p;
        return Status::ok();
      }
    }
    const std::vector<int64_t> window_size(f.begin(), f.begin() + kSpatialRank);
    std::vector<WindowAxis> axes;
    QTF_RETURN_IF_ERROR(resolve_window(where_, window_, in, window_size, &axes));
    Plan plan;
    plan.input_shape = in;
    plan.filter_shape = f;
    const int64_t out_c = kDepthwise ? f[2] * f[3] : f[kRank - 1];
    plan.out_shape = {in[0]};
    for (const WindowAxis& a : axes) plan.out_shape.push_back(a.out);
    plan.out_shape.push_back(out_c);
    if (num_elements(plan.out_shape) > 0 && num_elements(in) > 0) {
      ConvGeometry& g = plan.geometry;
      // oneDNN describes channels-last data with logical NC(D)HW dims, and
      // its weights as O, I (or G, O/G, I/G) then the window.
      g.src = {in[0], in[kRank - 1]};
      g.dst = {in[0], out_c};
      g.weights = kDepthwise ? memory::dims{f[2], f[3], 1} : memory::dims{f[kRank - 1], f[kRank - 2]};
      for (int k = 0; k < kSpatialRank; ++k) {
        const WindowAxis& a = axes[static_cast<size_t>(k)];
        g.src.push_back(in[static_cast<size_t>(k) + 1]);
        g.dst.push_back(a.out);
        g.weights.push_back(window_size[static_cast<size_t>(k)]);
        g.dilations.push_back(window_.dilations[static_cast<size_t>(k)] - 1);
        g.pad_l.push_back(a.pad_before);
        g.pad_r.push_back(a.pad_after);
      }
      g.strides = window_.strides;
      g.bias = fusion_.bias;
      const tag filter_tag = kDepthwise ? tag::hwigo : kSpatialRank == 3 ? tag::dhwio : tag::hwio;
      plan.user_weights_md = memory::desc(g.weights, memory::data_type::f32, filter_tag);
    }
    plans_.push_back(std::move(plan));
    *out = &plans_.back();
    return Status::ok();
  }

  // The bias as `out_c` floats: a [out_c] tensor as it is, a one-element one
  // broadcast (a convolution followed by Add of a scalar constant).
  Status fused_bias(const Tensor& b, int64_t out_c, const float** out) {
    if (b.dtype() != TF_FLOAT) {
      return invalid_argument(where_ + "bias must be float, got " + dtype_name(b.dtype()));
    }
    if (b.num_elements() == out_c) {
      *out = b.data<float>();
      return Status::ok();
    }
    if (b.num_elements() != 1) {
      return invalid_argument(where_ + "bias " + shape_string(b.shape()) + " does not match " +
                              std::to_string(out_c) + " output channels");
    }
    broadcast_bias_.assign(static_cast<size_t>(out_c), b.data<float>()[0]);
    *out = broadcast_bias_.data();
    return Status::ok();
  }

  std::string where_;
  WindowAttrs window_;
  ConvFusion fusion_;
  std::mutex mu_;
  std::deque<Plan> plans_;  // deque: plan addresses stay valid as it grows
  std::vector<float> broadcast_bias_;
};

}  // namespace qtf
