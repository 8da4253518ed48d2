// Conv2D: NHWC convolution with an HWIO filter (see conv_kernel.h).
#include "kernels/dnnl/conv_kernel.h"
#include "kernels/dnnl/conv_op_defs.h"

namespace qtf {

using Conv2DKernel = ConvKernel<false>;
QTF_REGISTER_KERNEL("Conv2D", Conv2DKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Conv2D"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "filter" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "strides" type: "list(int)" }
  attr { name: "use_cudnn_on_gpu" type: "bool" default_value { b: true } }
)pb" QTF_CONV_WINDOW_ATTRS);

// _FusedConv2D: Conv2D with its bias and activation in the same primitive
// (made by the plan's convolution fusion; args = the bias when fused_ops
// starts with "BiasAdd").
QTF_REGISTER_KERNEL("_FusedConv2D", Conv2DKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "_FusedConv2D"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "filter" type_attr: "T" }
  input_arg { name: "args" type_attr: "T" number_attr: "num_args" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "num_args" type: "int" has_minimum: true }
  attr { name: "strides" type: "list(int)" }
  attr { name: "use_cudnn_on_gpu" type: "bool" default_value { b: true } }
)pb" QTF_CONV_WINDOW_ATTRS QTF_CONV_FUSION_ATTRS);

}  // namespace qtf
