// The gradient of a 2-D convolution with respect to its input, which models
// use as a transposed ("deconvolution") layer: Conv2DBackpropInput (HWIO
// filter) and DepthwiseConv2dNativeBackpropInput ([kh, kw, C, M] filter,
// out_backprop of C*M channels). Runs oneDNN's backward-data convolution,
// grouped with C groups of M for the depthwise form (the "hwigo" weights
// layout, as in conv_kernel.h), on NHWC or NCHW data as data_format says.
// Primitives and the reordered filter are kept per shape as in the forward
// kernel.
#pragma once

#include <deque>
#include <mutex>

#include "core/kernel.h"
#include "kernels/dnnl/dnnl_context.h"
#include "kernels/index_input.h"
#include "kernels/window.h"

namespace qtf {

template <bool kDepthwise>
class ConvBackpropInputKernel : public OpKernel {
  using memory = dnnl::memory;
  using tag = dnnl::memory::format_tag;

 public:
  ConvBackpropInputKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = require_float_type(attrs);
    WindowForm form;
    form.channels_first_allowed = true;
    if (status->is_ok()) *status = read_window_attrs(attrs, "dilations", &window_, form);
  }

  Status compute(OpKernelContext& ctx) override {
    std::vector<int64_t> sizes;
    QTF_RETURN_IF_ERROR(read_index_vector(ctx.input(0), where_, "input_sizes", &sizes));
    const Tensor& filter = ctx.input(1);
    const Tensor& grad = ctx.input(2);
    if (filter.dtype() != TF_FLOAT || grad.dtype() != TF_FLOAT || filter.rank() != 4 ||
        grad.rank() != 4 || sizes.size() != 4) {
      return invalid_argument(where_ + "expected 4 input sizes and rank-4 float filter and "
                              "out_backprop, got " + shape_string(sizes) + ", " +
                              shape_string(filter.shape()) + ", " + shape_string(grad.shape()));
    }
    for (int64_t s : sizes) {
      if (s < 0) return invalid_argument(where_ + "input_sizes " + shape_string(sizes) + " are negative");
    }
    const size_t c = static_cast<size_t>(window_.channel_index());
    const int64_t out_c = kDepthwise ? filter.dim(2) * filter.dim(3) : filter.dim(3);
    if (sizes[c] != filter.dim(2) || grad.dim(c) != out_c || grad.dim(0) != sizes[0]) {
      return invalid_argument(where_ + "input_sizes " + shape_string(sizes) + ", filter " +
                              shape_string(filter.shape()) + " and out_backprop " +
                              shape_string(grad.shape()) + " do not agree");
    }
    std::lock_guard<std::mutex> lock(mu_);
    Plan* plan = nullptr;
    QTF_RETURN_IF_ERROR(find_plan(sizes, filter.shape(), grad.shape(), &plan));
    Tensor& output = ctx.allocate_output(0, TF_FLOAT, sizes);
    if (!plan->ready) {
      for (int64_t i = 0; i < output.num_elements(); ++i) output.data<float>()[i] = 0.f;
      return Status::ok();
    }
    return dnnl_call(where_, [&] {
      dnnl::stream& stream = dnnl_stream();
      refresh_weights(*plan, filter, stream);
      memory diff_dst(plan->pd.diff_dst_desc(), dnnl_engine(), grad.raw());
      memory diff_src(plan->pd.diff_src_desc(), dnnl_engine(), output.raw());
      plan->primitive.execute(stream, {{DNNL_ARG_DIFF_DST, diff_dst},
                                       {DNNL_ARG_WEIGHTS, plan->weights},
                                       {DNNL_ARG_DIFF_SRC, diff_src}});
      stream.wait();
    });
  }

 private:
  struct Plan {
    Shape sizes, filter_shape, grad_shape;
    bool ready = false;  // false when the result is empty or all zero
    dnnl::convolution_backward_data::primitive_desc pd;
    dnnl::convolution_backward_data primitive;
    memory::desc user_weights_md;
    memory weights;
    Tensor filter;
  };

  Status find_plan(const Shape& in, const Shape& f, const Shape& g, Plan** out) {
    for (Plan& p : plans_) {
      if (p.sizes == in && p.filter_shape == f && p.grad_shape == g) {
        *out = &p;
        return Status::ok();
      }
    }
    std::vector<WindowAxis> axes;
    QTF_RETURN_IF_ERROR(resolve_window(where_, window_, in, {f[0], f[1]}, &axes));
    const size_t sh = static_cast<size_t>(window_.spatial_index(0));
    const size_t sw = static_cast<size_t>(window_.spatial_index(1));
    if (axes[0].out != g[sh] || axes[1].out != g[sw]) {
      return invalid_argument(where_ + "out_backprop " + shape_string(g) +
                              " is not the forward output size [" + std::to_string(axes[0].out) + "," +
                              std::to_string(axes[1].out) + "] of input " + shape_string(in));
    }
    Plan plan;
    plan.sizes = in;
    plan.filter_shape = f;
    plan.grad_shape = g;
    if (num_elements(in) > 0 && num_elements(g) > 0 && num_elements(f) > 0) {
      QTF_RETURN_IF_ERROR(dnnl_call(where_, [&] {
        const auto dt = memory::data_type::f32;
        const size_t c = static_cast<size_t>(window_.channel_index());
        const tag data_tag = window_.channels_first ? tag::nchw : tag::nhwc;
        // oneDNN's logical dims are NCHW whatever the layout.
        memory::desc src_md({in[0], in[c], in[sh], in[sw]}, dt, data_tag);
        memory::desc dst_md({g[0], g[c], g[sh], g[sw]}, dt, data_tag);
        const memory::dims weight_dims =
            kDepthwise ? memory::dims{f[2], f[3], 1, f[0], f[1]} : memory::dims{f[3], f[2], f[0], f[1]};
        memory::desc any_weights(weight_dims, dt, tag::any);
        plan.user_weights_md = memory::desc(weight_dims, dt, kDepthwise ? tag::hwigo : tag::hwio);
        memory::dims dilates;
        for (int64_t d : window_.dilations) dilates.push_back(d - 1);
        const memory::dims pad_l = {axes[0].pad_before, axes[1].pad_before};
        const memory::dims pad_r = {axes[0].pad_after, axes[1].pad_after};
        dnnl::convolution_forward::desc fwd(dnnl::prop_kind::forward_training,
                                            dnnl::algorithm::convolution_direct, src_md,
                                            any_weights, dst_md, window_.strides, dilates, pad_l,
                                            pad_r);
        dnnl::convolution_forward::primitive_desc hint(fwd, dnnl_engine());
        dnnl::convolution_backward_data::desc bwd(dnnl::algorithm::convolution_direct, src_md,
                                                  any_weights, dst_md, window_.strides, dilates,
                                                  pad_l, pad_r);
        plan.pd = dnnl::convolution_backward_data::primitive_desc(bwd, dnnl_engine(), hint);
        plan.primitive = dnnl::convolution_backward_data(plan.pd);
        plan.weights = memory(plan.pd.weights_desc(), dnnl_engine());
        plan.ready = true;
        count_dnnl_primitive();
      }));
    }
    plans_.push_back(std::move(plan));
    *out = &plans_.back();
    return Status::ok();
  }

  std::string where_;
  WindowAttrs window_;
  std::mutex mu_;
  std::deque<Plan> plans_;
};

}  // namespace qtf
