// The per-session owner of function instantiations and resource variables.
// A function is instantiated the first time a plan reaches a call to it, so
// unreachable functions (training variants with unsupported ops) never are.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "core/function_library.h"
#include "core/status.h"
#include "exec/plan.h"
#include "core/variable.h"
#include "graph/graph.h"

namespace qtf {

class FunctionRuntime : public FunctionLibrary {
 public:
  explicit FunctionRuntime(const Graph& graph) : graph_(graph) {}

  const Graph& graph() const { return graph_; }
  ResourceManager& resources() { return resources_; }

  // The instance of `function` for the call attrs `attrs`, made on first use.
  Status instantiate(const tensorflow::FunctionDef& function, const AttrMap& attrs,
                     const FunctionInstance** out);
  // For kernels that call functions (If, While...): a handle with its own frame.
  Status instantiate(const tensorflow::NameAttrList& func,
                     std::unique_ptr<FunctionHandle>* out) override;

 private:
  const Graph& graph_;
  ResourceManager resources_;
  std::map<std::string, std::unique_ptr<FunctionInstance>> instances_;
  std::set<std::string> in_progress_;
};

}  // namespace qtf
