// The element-wise activation ops, on the functors of activations.h.
#include "kernels/activations.h"
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {

using ReluKernel = UnaryKernel<ReluOp>;
using Relu6Kernel = UnaryKernel<Relu6Op>;
using EluKernel = UnaryKernel<EluOp>;
using LeakyReluKernel = UnaryKernel<LeakyReluOp>;
using SigmoidKernel = UnaryKernel<SigmoidOp>;
using TanhKernel = UnaryKernel<TanhOp>;

QTF_REGISTER_KERNEL("Relu", ReluKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Relu"));
QTF_REGISTER_KERNEL("Relu6", Relu6Kernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Relu6"));
QTF_REGISTER_KERNEL("Elu", EluKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Elu"));
QTF_REGISTER_KERNEL("Sigmoid", SigmoidKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sigmoid"));
QTF_REGISTER_KERNEL("Tanh", TanhKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Tanh"));

QTF_REGISTER_KERNEL("LeakyRelu", LeakyReluKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "LeakyRelu"
  input_arg { name: "features" type_attr: "T" }
  output_arg { name: "activations" type_attr: "T" }
  attr { name: "alpha" type: "float" default_value { f: 0.2 } }
  attr { name: "T" type: "type" default_value { type: DT_FLOAT } })pb");

}  // namespace qtf
