// Conv2DBackpropInput: the gradient of Conv2D with respect to its input
// (see conv_backprop_input_kernel.h).
#include "kernels/dnnl/conv_backprop_input_kernel.h"
#include "kernels/dnnl/conv_op_defs.h"

namespace qtf {

using Conv2DBackpropInputKernel = ConvBackpropInputKernel<false>;
QTF_REGISTER_KERNEL("Conv2DBackpropInput", Conv2DBackpropInputKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Conv2DBackpropInput"
  attr { name: "use_cudnn_on_gpu" type: "bool" default_value { b: true } }
)pb" QTF_CONV_BACKPROP_INPUT_ARGS QTF_CONV_WINDOW_ATTRS);

}  // namespace qtf
