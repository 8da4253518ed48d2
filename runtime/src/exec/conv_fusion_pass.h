// Convolution fusion on a finished plan: a Conv2D or DepthwiseConv2dNative
// followed by BiasAdd (or Add of a constant that is one value per channel)
// and/or an activation (Relu, Relu6, Elu, LeakyRelu, Sigmoid, Tanh) becomes
// one step running _FusedConv2D / _FusedDepthwiseConv2dNative, so the
// convolution's output is written once instead of being re-read by each
// element-wise op.
//
// A chain is fused only when every intermediate value has exactly one
// reader in the plan, is not fetched, and no node has a control dependency
// on the nodes that disappear. The fused step takes the place (and node) of
// the chain's last op; the fused kernels are owned by the plan.
#pragma once

#include "core/status.h"
#include "exec/plan.h"

namespace qtf {

// Call after the steps' input slots and the fetch slots are set, before
// last-use bookkeeping. Chains whose fused kernel cannot be made stay as
// they are.
Status fuse_conv_chains(Plan* plan);

}  // namespace qtf
