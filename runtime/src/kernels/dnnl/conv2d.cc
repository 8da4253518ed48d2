// Conv2D: NHWC convolution with an HWIO filter (see conv_kernel.h).
#include "kernels/dnnl/conv_kernel.h"

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
  attr { name: "padding" type: "string"
         allowed_values { list { s: ["SAME", "VALID", "EXPLICIT"] } } }
  attr { name: "explicit_paddings" type: "list(int)" default_value { list {} } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "dilations" type: "list(int)" default_value { list { i: [1, 1, 1, 1] } } })pb");

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
  attr { name: "padding" type: "string"
         allowed_values { list { s: ["SAME", "VALID", "EXPLICIT"] } } }
  attr { name: "explicit_paddings" type: "list(int)" default_value { list {} } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "dilations" type: "list(int)" default_value { list { i: [1, 1, 1, 1] } } }
  attr { name: "fused_ops" type: "list(string)" default_value { list {} } }
  attr { name: "epsilon" type: "float" default_value { f: 0.0001 } }
  attr { name: "leakyrelu_alpha" type: "float" default_value { f: 0.2 } })pb");

}  // namespace qtf
