// The oneDNN engine and stream the kernels share, a counter of created
// primitives (a second run of a model must create none), the error
// wrapper that turns oneDNN exceptions into a Status, and the type check
// the float-only kernels share.
#pragma once

#include <dnnl.hpp>

#include <cstdint>
#include <string>

#include "core/kernel.h"
#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

dnnl::engine& dnnl_engine();
// One stream per thread: streams are not safe to share across threads.
dnnl::stream& dnnl_stream();

// Number of oneDNN primitives (and weight reorders) made by kernels so far.
int64_t dnnl_primitives_created();
void count_dnnl_primitive();

// Runs `f`; a dnnl::error becomes INTERNAL naming the node.
template <typename F>
Status dnnl_call(const std::string& where, F&& f) {
  try {
    f();
  } catch (const dnnl::error& e) {
    return internal_error(where + "oneDNN: " + e.what());
  }
  return Status::ok();
}

// The oneDNN kernels compute in float: UNIMPLEMENTED, naming the node, when
// attr T is another type.
Status require_float_type(const NodeAttrs& attrs);

// Brings a plan's cached weights up to date: reorders `filter` into
// `plan.weights` unless it is the buffer reordered last time (a model's
// filters come from variables, so this happens once per kernel).
template <typename Plan>
void refresh_weights(Plan& plan, const Tensor& filter, dnnl::stream& stream) {
  if (plan.filter.raw() == filter.raw()) return;
  dnnl::memory user(plan.user_weights_md, dnnl_engine(), filter.raw());
  dnnl::reorder(user, plan.weights).execute(stream, user, plan.weights);
  count_dnnl_primitive();
  plan.filter = filter;
}

}  // namespace qtf
