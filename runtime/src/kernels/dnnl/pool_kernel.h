// Max and average pooling through oneDNN (NHWC, float), one primitive per
// input shape. Average pooling divides by the number of cells inside the
// image, as TensorFlow does for SAME padding.
#pragma once

#include <deque>
#include <mutex>

#include "core/kernel.h"
#include "kernels/dnnl/dnnl_context.h"
#include "kernels/window.h"

namespace qtf {

template <dnnl::algorithm kAlgorithm>
class PoolKernel : public OpKernel {
 public:
  PoolKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = require_float_type(attrs);
    if (status->is_ok()) *status = read_window_attrs(attrs, nullptr, &window_);
    if (status->is_ok()) *status = read_spatial_pair(attrs, "ksize", &kh_, &kw_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& input = ctx.input(0);
    if (input.dtype() != TF_FLOAT || input.rank() != 4) {
      return invalid_argument(where_ + "input must be a rank-4 float tensor, got " +
                              dtype_name(input.dtype()) + shape_string(input.shape()));
    }
    std::lock_guard<std::mutex> lock(mu_);
    Plan* plan = nullptr;
    QTF_RETURN_IF_ERROR(find_plan(input.shape(), &plan));
    Tensor& output = ctx.allocate_output(0, TF_FLOAT, plan->out_shape);
    if (output.num_elements() == 0) return Status::ok();
    return dnnl_call(where_, [&] {
      dnnl::memory src(plan->pd.src_desc(), dnnl_engine(), input.raw());
      dnnl::memory dst(plan->pd.dst_desc(), dnnl_engine(), output.raw());
      dnnl::stream& stream = dnnl_stream();
      plan->primitive.execute(stream, {{DNNL_ARG_SRC, src}, {DNNL_ARG_DST, dst}});
      stream.wait();
    });
  }

 private:
  struct Plan {
    Shape input_shape, out_shape;
    dnnl::pooling_forward::primitive_desc pd;
    dnnl::pooling_forward primitive;
  };

  Status find_plan(const Shape& in, Plan** out) {
    for (Plan& p : plans_) {
      if (p.input_shape == in) {
        *out = &p;
        return Status::ok();
      }
    }
    std::vector<WindowAxis> axes;
    QTF_RETURN_IF_ERROR(resolve_window(where_, window_, in, {kh_, kw_}, &axes));
    const WindowAxis& h = axes[0];
    const WindowAxis& w = axes[1];
    Plan plan;
    plan.input_shape = in;
    plan.out_shape = {in[0], h.out, w.out, in[3]};
    if (num_elements(plan.out_shape) > 0) {
      QTF_RETURN_IF_ERROR(dnnl_call(where_, [&] {
        using dnnl::memory;
        const auto dt = memory::data_type::f32;
        memory::desc src_md({in[0], in[3], in[1], in[2]}, dt, memory::format_tag::nhwc);
        memory::desc dst_md({in[0], in[3], h.out, w.out}, dt, memory::format_tag::nhwc);
        dnnl::pooling_forward::desc desc(dnnl::prop_kind::forward_inference, kAlgorithm, src_md,
                                         dst_md, window_.strides,
                                         {kh_, kw_}, {h.pad_before, w.pad_before},
                                         {h.pad_after, w.pad_after});
        plan.pd = dnnl::pooling_forward::primitive_desc(desc, dnnl_engine());
        plan.primitive = dnnl::pooling_forward(plan.pd);
        count_dnnl_primitive();
      }));
    }
    plans_.push_back(std::move(plan));
    *out = &plans_.back();
    return Status::ok();
  }

  std::string where_;
  WindowAttrs window_;
  int64_t kh_ = 1, kw_ = 1;
  std::mutex mu_;
  std::deque<Plan> plans_;
};

}  // namespace qtf
