#include "kernels/dnnl/conv_fusion.h"

#include <vector>

namespace qtf {

Status read_conv_fusion(const NodeAttrs& attrs, ConvFusion* out) {
  std::vector<std::string> ops;
  if (const tensorflow::AttrValue* v = attrs.find("fused_ops")) {
    for (const std::string& op : v->list().s()) ops.push_back(op);
  }
  const int64_t num_args = attrs.int_or("num_args", 0);
  size_t next = 0;
  ConvFusion f;
  if (next < ops.size() && ops[next] == "BiasAdd") {
    f.bias = true;
    ++next;
  }
  if (next < ops.size()) {
    f.activation = activation_of_op(ops[next]);
    if (f.activation == Activation::kNone) {
      return unimplemented(attrs.where() + "fused op '" + ops[next] + "' is not supported");
    }
    ++next;
  }
  if (next != ops.size() || ops.empty()) {
    std::string list;
    for (const std::string& op : ops) list += (list.empty() ? "" : ",") + op;
    return unimplemented(attrs.where() + "fused_ops [" + list + "] is not supported");
  }
  if (num_args != (f.bias ? 1 : 0)) {
    return invalid_argument(attrs.where() + "num_args " + std::to_string(num_args) + " does not fit fused_ops");
  }
  f.alpha = attrs.float_or("leakyrelu_alpha", 0.2f);
  *out = f;
  return Status::ok();
}

dnnl::primitive_attr conv_fusion_attr(const ConvFusion& fusion) {
  dnnl::primitive_attr attr;
  if (fusion.activation == Activation::kNone) return attr;
  using alg = dnnl::algorithm;
  alg a = alg::eltwise_relu;
  float alpha = 0.f, beta = 0.f;
  switch (fusion.activation) {
    case Activation::kRelu: break;
    case Activation::kRelu6: a = alg::eltwise_clip; alpha = 0.f; beta = 6.f; break;
    case Activation::kElu: a = alg::eltwise_elu; alpha = 1.f; break;
    case Activation::kLeakyRelu: alpha = fusion.alpha; break;
    case Activation::kSigmoid: a = alg::eltwise_logistic; break;
    case Activation::kTanh: a = alg::eltwise_tanh; break;
    case Activation::kNone: break;
  }
  dnnl::post_ops ops;
  ops.append_eltwise(1.f, a, alpha, beta);
  attr.set_post_ops(ops);
  return attr;
}

}  // namespace qtf
