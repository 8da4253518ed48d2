// DepthwiseConv2dNative: each input channel convolved with its own M
// filters, [kh, kw, C, M] -> C*M output channels (see conv_kernel.h).
#include "kernels/dnnl/conv_kernel.h"
#include "kernels/dnnl/conv_op_defs.h"

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
)pb" QTF_CONV_WINDOW_ATTRS);

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
)pb" QTF_CONV_WINDOW_ATTRS QTF_CONV_FUSION_ATTRS);

}  // namespace qtf
