// Session: runs the outer graph of a loaded Graph. Keeps the session's
// variables and function instances, and caches one plan per distinct
// (feeds, fetches, targets) request so repeated runs skip all preparation.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "exec/function_runtime.h"
#include "exec/plan.h"
#include "graph/graph.h"

namespace qtf {

class Session {
 public:
  explicit Session(std::shared_ptr<const Graph> graph);
  ~Session();

  const Graph& graph() const { return *graph_; }

  // Builds (or finds) the plan for this request without running it, so a
  // loader can report unsupported ops before the first run.
  Status prepare(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                 const std::vector<int>& targets);

  // Outer-graph node outputs: `feeds[i]` gets `feed_values[i]`.
  Status run(const std::vector<ValueRef>& feeds, std::vector<Tensor> feed_values,
             const std::vector<ValueRef>& fetches, const std::vector<int>& targets,
             std::vector<Tensor>* outputs);

  // Parses "node:index" (index 0 when absent) into an outer-graph reference.
  Status parse_tensor_name(const std::string& name, ValueRef* out) const;

  ResourceManager& resources() { return runtime_.resources(); }

 private:
  Status find_plan(const std::vector<ValueRef>& feeds, const std::vector<ValueRef>& fetches,
                   const std::vector<int>& targets, const Plan** plan);

  std::shared_ptr<const Graph> graph_;
  FunctionRuntime runtime_;
  std::unique_ptr<BodyInstance> outer_;
  std::map<std::string, std::unique_ptr<Plan>> plans_;
  std::mutex mu_;  // one run at a time: kernels keep per-run scratch state
};

}  // namespace qtf
