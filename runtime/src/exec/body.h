// Body: the nodes of the outer graph or of one function instantiation, with
// every input reference resolved to (node, flat output index) and every
// node's output layout worked out. Problems with a node (unknown op, bad
// reference) are kept on the node and reported only if a run needs it, because
// graphs hold many nodes that serving never reaches.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "graph/graph.h"
#include "graph/op_signature.h"

namespace qtf {

struct ValueRef {
  int node = -1;
  int output = 0;
  bool operator==(const ValueRef& o) const { return node == o.node && output == o.output; }
};

struct BodyNode {
  std::string name;
  const tensorflow::NodeDef* def = nullptr;  // nullptr for a function argument
  int arg_index = -1;                        // >= 0 for a function argument
  std::vector<ValueRef> inputs;
  std::vector<int> control_inputs;
  OutputLayout outputs;
  Status status;  // why the node cannot run; checked when a run needs it
  // Set when the node calls a library function (a call op, or an op named
  // after the function); `callee_attrs` instantiate the callee.
  const tensorflow::FunctionDef* callee = nullptr;
  const AttrMap* callee_attrs = nullptr;

  bool is_arg() const { return arg_index >= 0; }
  bool is_call() const { return callee != nullptr; }
};

class Body {
 public:
  static Status from_graph(const Graph& graph, std::unique_ptr<Body>* out);
  // `attrs` give values to attr placeholders of the body and types of its signature.
  static Status from_function(const Graph& graph, const tensorflow::FunctionDef& function,
                              const AttrMap& attrs, std::unique_ptr<Body>* out);

  const std::string& function_name() const { return function_name_; }
  const std::vector<BodyNode>& nodes() const { return nodes_; }
  const BodyNode& node(int i) const { return nodes_[static_cast<size_t>(i)]; }
  int num_args() const { return num_args_; }
  const std::vector<ValueRef>& rets() const { return rets_; }
  const std::vector<DataType>& ret_types() const { return ret_types_; }
  const std::vector<int>& control_rets() const { return control_rets_; }
  // "node 'x'" or "node 'x' in function 'f'", for messages.
  std::string where(int node) const;

 private:
  Body() = default;
  void add_node(const Graph& graph, const tensorflow::NodeDef& def, const std::string& context);
  void resolve_graph_inputs();
  void resolve_function_inputs(const std::unordered_map<std::string, int>& args);
  Status resolve_function_ref(const std::string& ref,
                              const std::unordered_map<std::string, int>& args, ValueRef* out) const;

  std::string function_name_;
  std::vector<BodyNode> nodes_;
  std::unordered_map<std::string, int> index_;
  int num_args_ = 0;
  std::vector<ValueRef> rets_;
  std::vector<DataType> ret_types_;
  std::vector<int> control_rets_;
  std::deque<tensorflow::NodeDef> owned_defs_;  // body nodes with placeholders substituted
};

}  // namespace qtf
