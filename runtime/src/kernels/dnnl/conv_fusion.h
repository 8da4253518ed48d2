// What a fused convolution adds after the sum: an optional per-channel bias
// and an optional activation, read from the attrs of TensorFlow's fused ops
// (fused_ops = ["BiasAdd"], ["BiasAdd", "Relu"], ["Relu6"]..., num_args,
// leakyrelu_alpha) and turned into oneDNN post-ops.
#pragma once

#include <dnnl.hpp>

#include <string>

#include "core/kernel.h"
#include "kernels/activations.h"

namespace qtf {

struct ConvFusion {
  bool bias = false;
  Activation activation = Activation::kNone;
  float alpha = 0.2f;  // LeakyRelu slope
};

// Reads fused_ops / num_args / leakyrelu_alpha. Accepted: "BiasAdd" first
// (with num_args 1) and at most one activation after it, or a lone
// activation (num_args 0).
Status read_conv_fusion(const NodeAttrs& attrs, ConvFusion* out);

// Primitive attributes with the activation as an eltwise post-op.
dnnl::primitive_attr conv_fusion_attr(const ConvFusion& fusion);

// The activation on one value (for outputs the primitive never computes).
inline float apply_activation(const ConvFusion& fusion, float x) {
  return apply_activation(fusion.activation, fusion.alpha, x);
}

}  // namespace qtf
