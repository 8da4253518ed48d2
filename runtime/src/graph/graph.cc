#include "graph/graph.h"

namespace qtf {

Status Graph::init(tensorflow::GraphDef graph_def, tensorflow::OpList stripped_ops) {
  graph_def_ = std::move(graph_def);
  stripped_ops_ = std::move(stripped_ops);
  op_defs_ = OpDefLookup(stripped_ops_);
  nodes_.clear();
  functions_.clear();

  for (auto& function : *graph_def_.mutable_library()->mutable_function()) {
    const std::string& name = function.signature().name();
    if (name.empty()) return invalid_argument("Function library holds a function without a name");
    if (!functions_.emplace(name, &function).second) {
      return invalid_argument("Function library defines '" + name + "' twice");
    }
  }
  // Library functions take precedence over ops of the same name; their call
  // sites carry no defaults to fill.
  auto fill_defaults = [this](tensorflow::NodeDef* node) {
    if (functions_.count(node->op()) > 0) return;
    if (const tensorflow::OpDef* def = op_defs_.find(node->op())) {
      fill_default_attrs(*def, node->mutable_attr());
    }
  };
  for (int i = 0; i < graph_def_.node_size(); ++i) {
    tensorflow::NodeDef* node = graph_def_.mutable_node(i);
    if (!nodes_.emplace(node->name(), i).second) {
      return invalid_argument("Graph has two nodes named '" + node->name() + "'");
    }
    fill_defaults(node);
  }
  for (auto& function : *graph_def_.mutable_library()->mutable_function()) {
    for (auto& node : *function.mutable_node_def()) fill_defaults(&node);
  }
  return Status::ok();
}

int Graph::find_node(const std::string& name) const {
  const auto it = nodes_.find(name);
  return it == nodes_.end() ? -1 : it->second;
}

const tensorflow::FunctionDef* Graph::find_function(const std::string& name) const {
  const auto it = functions_.find(name);
  return it == functions_.end() ? nullptr : it->second;
}

}  // namespace qtf
