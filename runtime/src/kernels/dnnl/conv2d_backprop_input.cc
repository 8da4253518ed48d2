// Conv2DBackpropInput: the gradient of Conv2D with respect to its input,
// which models use as a transposed ("deconvolution") layer. Runs oneDNN's
// backward-data convolution; primitives and the reordered filter are kept
// per shape as in the forward kernel.
#include <deque>
#include <mutex>

#include "core/kernel.h"
#include "kernels/dnnl/conv_op_defs.h"
#include "kernels/dnnl/dnnl_context.h"
#include "kernels/index_input.h"
#include "kernels/window.h"

namespace qtf {
namespace {

using dnnl::memory;
using tag = dnnl::memory::format_tag;

class Conv2DBackpropInputKernel : public OpKernel {
 public:
  Conv2DBackpropInputKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    DataType t = TF_FLOAT;
    *status = attrs.get_type("T", &t);
    if (status->is_ok() && t != TF_FLOAT) {
      *status = unimplemented(where_ + "type " + dtype_name(t) + " is not supported (float only)");
    }
    if (status->is_ok()) *status = read_window_attrs(attrs, "dilations", &window_);
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
    if (sizes[3] != filter.dim(2) || grad.dim(3) != filter.dim(3) || grad.dim(0) != sizes[0]) {
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
    WindowAxis h, w;
    QTF_RETURN_IF_ERROR(resolve_window(where_, window_, in, f[0], f[1], &h, &w));
    if (h.out != g[1] || w.out != g[2]) {
      return invalid_argument(where_ + "out_backprop " + shape_string(g) +
                              " is not the forward output size [" + std::to_string(h.out) + "," +
                              std::to_string(w.out) + "] of input " + shape_string(in));
    }
    Plan plan;
    plan.sizes = in;
    plan.filter_shape = f;
    plan.grad_shape = g;
    if (num_elements(in) > 0 && num_elements(g) > 0 && num_elements(f) > 0) {
      QTF_RETURN_IF_ERROR(dnnl_call(where_, [&] {
        const auto dt = memory::data_type::f32;
        memory::desc src_md({in[0], in[3], in[1], in[2]}, dt, tag::nhwc);
        memory::desc dst_md({g[0], g[3], g[1], g[2]}, dt, tag::nhwc);
        memory::desc any_weights({f[3], f[2], f[0], f[1]}, dt, tag::any);
        plan.user_weights_md = memory::desc({f[3], f[2], f[0], f[1]}, dt, tag::hwio);
        const memory::dims strides = {window_.stride_h, window_.stride_w};
        const memory::dims dilates = {window_.dilation_h - 1, window_.dilation_w - 1};
        const memory::dims pad_l = {h.pad_before, w.pad_before};
        const memory::dims pad_r = {h.pad_after, w.pad_after};
        dnnl::convolution_forward::desc fwd(dnnl::prop_kind::forward_training,
                                            dnnl::algorithm::convolution_direct, src_md,
                                            any_weights, dst_md, strides, dilates, pad_l, pad_r);
        dnnl::convolution_forward::primitive_desc hint(fwd, dnnl_engine());
        dnnl::convolution_backward_data::desc bwd(dnnl::algorithm::convolution_direct, src_md,
                                                  any_weights, dst_md, strides, dilates, pad_l,
                                                  pad_r);
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

}  // namespace

QTF_REGISTER_KERNEL("Conv2DBackpropInput", Conv2DBackpropInputKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Conv2DBackpropInput"
  input_arg { name: "input_sizes" type: DT_INT32 }
  input_arg { name: "filter" type_attr: "T" }
  input_arg { name: "out_backprop" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "strides" type: "list(int)" }
  attr { name: "use_cudnn_on_gpu" type: "bool" default_value { b: true } }
)pb" QTF_CONV_WINDOW_ATTRS);

}  // namespace qtf
