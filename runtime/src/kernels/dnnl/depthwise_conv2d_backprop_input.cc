// DepthwiseConv2dNativeBackpropInput: the gradient of DepthwiseConv2dNative
// with respect to its input, the transposed depthwise convolution of
// Keras and ONNX exports (see conv_backprop_input_kernel.h).
#include "kernels/dnnl/conv_backprop_input_kernel.h"
#include "kernels/dnnl/conv_op_defs.h"

namespace qtf {

using DepthwiseConv2dBackpropInputKernel = ConvBackpropInputKernel<true>;
QTF_REGISTER_KERNEL("DepthwiseConv2dNativeBackpropInput", DepthwiseConv2dBackpropInputKernel);
QTF_REGISTER_OP_DEF(R"pb(name: "DepthwiseConv2dNativeBackpropInput")pb" QTF_CONV_BACKPROP_INPUT_ARGS
                        QTF_CONV_WINDOW_ATTRS);

}  // namespace qtf
