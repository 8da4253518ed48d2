// AvgPool: the mean of each window over the cells inside the image.
#include "kernels/dnnl/pool_kernel.h"

namespace qtf {

using AvgPoolKernel = PoolKernel<dnnl::algorithm::pooling_avg_exclude_padding>;
QTF_REGISTER_KERNEL("AvgPool", AvgPoolKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "AvgPool"
  input_arg { name: "value" type_attr: "T" }
  output_arg { name: "output" type_attr: "T" }
  attr { name: "ksize" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "strides" type: "list(int)" has_minimum: true minimum: 4 }
  attr { name: "padding" type: "string" allowed_values { list { s: ["SAME", "VALID"] } } }
  attr { name: "data_format" type: "string" default_value { s: "NHWC" }
         allowed_values { list { s: ["NHWC", "NCHW"] } } }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
