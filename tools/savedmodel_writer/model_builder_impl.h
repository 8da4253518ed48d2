// The state of a ModelBuilder while it collects a network: the nodes made
// so far and the library functions under construction. Shared by the files
// that implement the builder.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "network.h"
#include "op_defs.h"
#include "savedmodel_writer.h"

namespace qsm {

struct ModelBuilder::Impl {
  struct NodeInfo {
    std::vector<std::string> refs;
    std::vector<tensorflow::DataType> types;
    int scope = 0;  // 0: the signature function; else the library function being built
  };
  // A library function under construction.
  struct Scope {
    int id = 0;
    std::string name;
    std::vector<std::pair<std::string, tensorflow::DataType>> args;
    std::vector<tensorflow::NodeDef> body;
    std::set<std::string> names;
  };
  struct Signature {
    std::vector<tensorflow::DataType> args, results;
  };

  WriterOptions options;
  Network net;
  std::vector<NodeInfo> nodes;
  std::set<std::string> arg_names;
  std::set<std::string> input_names, variable_names, output_names;
  std::vector<Scope> scopes;  // open functions, innermost last
  int next_scope = 1;
  std::map<std::string, Signature> functions;  // finished ones
  qtf::Status status;

  int scope() const { return scopes.empty() ? 0 : scopes.back().id; }
  std::vector<tensorflow::NodeDef>& body() { return scopes.empty() ? net.body : scopes.back().body; }
  std::set<std::string>& names() { return scopes.empty() ? net.body_names : scopes.back().names; }
  bool at_top(const char* what) {
    if (scopes.empty()) return true;
    fail(std::string(what) + " inside function '" + scopes.back().name + "': only the network has them");
    return false;
  }
  // Fills a missing type-list attr of an output (If's `Tout`) from the
  // results of a function the node calls.
  void infer_result_types(const tensorflow::OpDef& def, AttrMap* given) const;

  Output fail(const std::string& message) {
    if (status.is_ok()) status = qtf::invalid_argument(message);
    return Output{};
  }
  Output add_node(NodeInfo info) {
    info.scope = scope();
    nodes.push_back(std::move(info));
    return Output{static_cast<int>(nodes.size()) - 1, 0};
  }
  bool valid(Output o) const {
    return o.node >= 0 && o.node < static_cast<int>(nodes.size()) && o.index >= 0 &&
           o.index < static_cast<int>(nodes[static_cast<size_t>(o.node)].refs.size());
  }
  const std::string& ref(Output o) const {
    return nodes[static_cast<size_t>(o.node)].refs[static_cast<size_t>(o.index)];
  }
  tensorflow::DataType type_of(Output o) const {
    return nodes[static_cast<size_t>(o.node)].types[static_cast<size_t>(o.index)];
  }
  Output add_op(const std::string& op, const std::vector<Output>& inputs, const Attrs& attrs,
                const std::string& name);
};

}  // namespace qsm
