// Conv3D: NDHWC convolution with a DHWIO filter (see conv_kernel.h).
// NCDHW data is refused as UNIMPLEMENTED when the kernel is made.
#include "kernels/dnnl/conv_kernel.h"

namespace qtf {

using Conv3DKernel = ConvKernel<false, 3>;
QTF_REGISTER_KERNEL("Conv3D", Conv3DKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Conv3D"
  input_arg { name: "input" type_attr: "T" }
  input_arg { name: "filter" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr {
    name: "T"
    type: "type"
    allowed_values { list { type: [ DT_HALF, DT_BFLOAT16, DT_FLOAT, DT_DOUBLE ] } }
  }
  attr { name: "strides" type: "list(int)" has_minimum: true minimum: 5 }
  attr { name: "padding" type: "string" allowed_values { list { s: [ "SAME", "VALID" ] } } }
  attr {
    name: "data_format"
    type: "string"
    default_value { s: "NDHWC" }
    allowed_values { list { s: [ "NDHWC", "NCDHW" ] } }
  }
  attr { name: "dilations" type: "list(int)" default_value { list { i: [ 1, 1, 1, 1, 1 ] } } })pb");

}  // namespace qtf
