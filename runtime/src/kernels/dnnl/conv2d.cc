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

}  // namespace qtf
