// DepthwiseConv2dNative: each input channel convolved with its own M
// filters, [kh, kw, C, M] -> C*M output channels (see conv_kernel.h).
#include "kernels/dnnl/conv_kernel.h"

namespace qtf {

using DepthwiseConv2dKernel = ConvKernel<true>;
QTF_REGISTER_KERNEL("DepthwiseConv2dNative", DepthwiseConv2dKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "DepthwiseConv2dNative"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "filter" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "strides" type: "list(int)" }
  attr { name: "padding" type: "string"
         allowed_values { list { s: ["SAME", "VALID", "EXPLICIT"] } } }
  attr { name: "explicit_paddings" type: "list(int)" default_value { list {} } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "dilations" type: "list(int)" default_value { list { i: [1, 1, 1, 1] } } })pb");

// _FusedDepthwiseConv2dNative: the same for depthwise convolutions.
QTF_REGISTER_KERNEL("_FusedDepthwiseConv2dNative", DepthwiseConv2dKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "_FusedDepthwiseConv2dNative"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "filter" type_attr: "T" }
  input_arg { name: "args" type_attr: "T" number_attr: "num_args" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" }
  attr { name: "num_args" type: "int" has_minimum: true }
  attr { name: "strides" type: "list(int)" }
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
