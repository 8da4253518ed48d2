// What the control-flow kernels share about the functions they call: making a
// handle for a func attr and checking it against the types the node declares,
// and one call of a branch on the node's inputs into the node's outputs.
#pragma once

#include <memory>
#include <vector>

#include "core/function_library.h"
#include "core/kernel.h"

namespace qtf {

// Instantiates `func` for the node of `attrs` (`role` names the attr in
// messages, e.g. "then_branch"); its arguments must be `args` and, unless
// `results` is null, its results `*results`.
Status instantiate_callee(const NodeAttrs& attrs, const tensorflow::NameAttrList& func,
                          const char* role, const std::vector<DataType>& args,
                          const std::vector<DataType>* results,
                          std::unique_ptr<FunctionHandle>* out);

// Calls `fn` on inputs [first_input, end) of `ctx` (taken over, so the callee
// may work in place) and makes its results the node's outputs. `args` and
// `results` are the kernel's scratch, reused between runs.
Status call_into_outputs(FunctionHandle& fn, int first_input, OpKernelContext& ctx,
                         std::vector<Tensor>* args, std::vector<Tensor>* results);

}  // namespace qtf
