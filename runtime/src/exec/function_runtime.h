// The per-session owner of function instantiations and resource variables.
// A function is instantiated the first time a plan reaches a call to it, so
// unreachable functions (training variants with unsupported ops) never are.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/status.h"
#include "exec/plan.h"
#include "exec/variable.h"
#include "graph/graph.h"

namespace qtf {

class FunctionRuntime {
 public:
  explicit FunctionRuntime(const Graph& graph) : graph_(graph) {}

  const Graph& graph() const { return graph_; }
  ResourceManager& resources() { return resources_; }

  // The instance of `function` for the call attrs `attrs`, made on first use.
  Status instantiate(const tensorflow::FunctionDef& function, const AttrMap& attrs,
                     const FunctionInstance** out);

 private:
  const Graph& graph_;
  ResourceManager resources_;
  std::map<std::string, std::unique_ptr<FunctionInstance>> instances_;
  std::set<std::string> in_progress_;
};

}  // namespace qtf
