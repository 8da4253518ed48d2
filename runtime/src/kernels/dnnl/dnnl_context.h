// The oneDNN engine and stream the kernels share, a counter of created
// primitives (a second run of a model must create none), and the error
// wrapper that turns oneDNN exceptions into a Status.
#pragma once

#include <dnnl.hpp>

#include <cstdint>
#include <string>

#include "core/status.h"

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

}  // namespace qtf
