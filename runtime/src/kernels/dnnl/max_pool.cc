// MaxPool: the largest value of each window (padding never wins).
#include "kernels/dnnl/pool_kernel.h"

namespace qtf {

using MaxPoolKernel = PoolKernel<dnnl::algorithm::pooling_max>;
QTF_REGISTER_KERNEL("MaxPool", MaxPoolKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "MaxPool"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "T" type: "type" default_value { type: DT_FLOAT } }
  attr { name: "ksize" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "strides" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "padding" type: "string"
         allowed_values { list { s: ["SAME", "VALID", "EXPLICIT"] } } }
  attr { name: "explicit_paddings" type: "list(int)" default_value { list {} } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW", "NCHW_VECT_C"] } } })pb");

}  // namespace qtf
