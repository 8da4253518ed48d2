// A loaded graph: one GraphDef with its stripped default attributes filled in,
// its function library indexed by name, and the op definitions that interpret
// both. Immutable once initialised, so sessions can share it.
#pragma once

#include <string>
#include <unordered_map>

#include "core/status.h"
#include "graph.pb.h"
#include "graph/op_signature.h"

namespace qtf {

class Graph {
 public:
  // Takes over the graph; `stripped_ops` are the op definitions stored with it.
  Status init(tensorflow::GraphDef graph_def, tensorflow::OpList stripped_ops);

  int num_nodes() const { return graph_def_.node_size(); }
  const tensorflow::NodeDef& node(int i) const { return graph_def_.node(i); }
  // Index of the node called `name`, or -1.
  int find_node(const std::string& name) const;
  const tensorflow::FunctionDef* find_function(const std::string& name) const;
  const OpDefLookup& op_defs() const { return op_defs_; }

 private:
  tensorflow::GraphDef graph_def_;
  tensorflow::OpList stripped_ops_;
  OpDefLookup op_defs_;
  std::unordered_map<std::string, int> nodes_;
  std::unordered_map<std::string, const tensorflow::FunctionDef*> functions_;
};

}  // namespace qtf
