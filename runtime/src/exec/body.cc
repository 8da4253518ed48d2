#include "exec/body.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace qtf {
namespace {

bool is_call_op(const std::string& op) {
  return op == "StatefulPartitionedCall" || op == "PartitionedCall";
}

bool all_digits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Parses the decimal index of a reference; false when it is malformed or huge.
bool parse_index(const std::string& s, int* out) {
  if (!all_digits(s) || s.size() > 9) return false;
  *out = std::stoi(s);
  return true;
}

bool has_placeholder(const tensorflow::NodeDef& def) {
  for (const auto& kv : def.attr()) {
    if (kv.second.value_case() == tensorflow::AttrValue::kPlaceholder) return true;
  }
  return false;
}

// Kernels and function bodies take their inputs by position, so a node must
// have exactly the data inputs its op or function declares.
Status check_input_count(const google::protobuf::RepeatedPtrField<tensorflow::OpDef::ArgDef>& args,
                         const tensorflow::NodeDef& def, const std::string& where) {
  OutputLayout declared;
  QTF_RETURN_IF_ERROR(arg_layout(args, def.attr(), where, &declared));
  const auto given = std::count_if(def.input().begin(), def.input().end(),
                                   [](const std::string& in) { return in.empty() || in[0] != '^'; });
  if (given != static_cast<std::ptrdiff_t>(declared.types.size())) {
    return invalid_argument(where + "has " + std::to_string(given) + " inputs, its op takes " +
                            std::to_string(declared.types.size()));
  }
  return Status::ok();
}

}  // namespace

std::string Body::where(int node) const {
  std::string out = "node '" + nodes_[static_cast<size_t>(node)].name + "'";
  if (!function_name_.empty()) out += " in function '" + function_name_ + "'";
  return out;
}

void Body::add_node(const Graph& graph, const tensorflow::NodeDef& def, const std::string& context) {
  BodyNode node;
  node.name = def.name();
  node.def = &def;
  const std::string where = def.op() + " node '" + def.name() + "'" + context + ": ";
  if (const tensorflow::FunctionDef* fn = graph.find_function(def.op())) {
    node.callee = fn;
    node.callee_attrs = &def.attr();
    node.status = arg_layout(fn->signature().output_arg(), def.attr(), where, &node.outputs);
    if (node.status.is_ok()) node.status = check_input_count(fn->signature().input_arg(), def, where);
  } else if (const tensorflow::OpDef* op_def = graph.op_defs().find(def.op())) {
    node.status = arg_layout(op_def->output_arg(), def.attr(), where, &node.outputs);
    if (node.status.is_ok()) node.status = check_input_count(op_def->input_arg(), def, where);
    if (node.status.is_ok() && is_call_op(def.op())) {
      const auto f = def.attr().find("f");
      if (f == def.attr().end() || f->second.value_case() != tensorflow::AttrValue::kFunc) {
        node.status = invalid_argument(where + "attr 'f' does not name a function");
      } else if (const tensorflow::FunctionDef* callee = graph.find_function(f->second.func().name())) {
        node.callee = callee;
        node.callee_attrs = &f->second.func().attr();
      } else {
        node.status = not_found(where + "calls function '" + f->second.func().name() +
                                "', which is not in the library");
      }
    }
  } else {
    node.status = unimplemented("Op type not registered '" + def.op() + "' in " +
                                "node '" + def.name() + "'" + context);
  }
  if (node.status.is_ok() && has_placeholder(def)) {
    node.status = invalid_argument(where + "has an attr placeholder with no value to fill it");
  }
  index_.emplace(node.name, static_cast<int>(nodes_.size()));
  nodes_.push_back(std::move(node));
}

Status Body::from_graph(const Graph& graph, std::unique_ptr<Body>* out) {
  std::unique_ptr<Body> body(new Body());
  body->nodes_.reserve(static_cast<size_t>(graph.num_nodes()));
  for (int i = 0; i < graph.num_nodes(); ++i) body->add_node(graph, graph.node(i), "");
  body->resolve_graph_inputs();
  *out = std::move(body);
  return Status::ok();
}

void Body::resolve_graph_inputs() {
  for (BodyNode& node : nodes_) {
    for (const std::string& input : node.def->input()) {
      if (!input.empty() && input[0] == '^') {
        const auto it = index_.find(input.substr(1));
        if (it == index_.end()) {
          if (node.status.is_ok()) {
            node.status = invalid_argument("Node '" + node.name + "': control input '" + input +
                                           "' names no node");
          }
          continue;
        }
        node.control_inputs.push_back(it->second);
        continue;
      }
      std::string name = input;
      int output = 0;
      const size_t colon = input.rfind(':');
      if (colon != std::string::npos && parse_index(input.substr(colon + 1), &output)) {
        name = input.substr(0, colon);
      }
      const auto it = index_.find(name);
      if (it == index_.end()) {
        if (node.status.is_ok()) {
          node.status = invalid_argument("Node '" + node.name + "': input '" + input + "' names no node");
        }
        continue;
      }
      node.inputs.push_back(ValueRef{it->second, output});
    }
  }
}

Status Body::from_function(const Graph& graph, const tensorflow::FunctionDef& function,
                           const AttrMap& attrs, std::unique_ptr<Body>* out) {
  std::unique_ptr<Body> body(new Body());
  const tensorflow::OpDef& sig = function.signature();
  body->function_name_ = sig.name();
  const std::string where = "Function '" + sig.name() + "': ";
  // Only the attrs the signature declares belong to the instantiation.
  AttrMap own_attrs;
  for (const auto& attr : sig.attr()) {
    const auto it = attrs.find(attr.name());
    if (it != attrs.end()) {
      own_attrs[attr.name()] = it->second;
    } else if (attr.has_default_value()) {
      own_attrs[attr.name()] = attr.default_value();
    } else {
      return invalid_argument(where + "no value for attr '" + attr.name() + "'");
    }
  }

  OutputLayout arg_types;
  QTF_RETURN_IF_ERROR(arg_layout(sig.input_arg(), own_attrs, where, &arg_types));
  std::unordered_map<std::string, int> args;
  for (const OutputArg& arg : arg_types.args) {
    if (arg.count != 1) {
      return unimplemented(where + "list-valued argument '" + arg.name + "' is not supported");
    }
    BodyNode node;
    node.name = arg.name;
    node.arg_index = body->num_args_++;
    node.outputs.args.push_back(OutputArg{"output", 0, 1});
    node.outputs.types.push_back(arg_types.types[static_cast<size_t>(arg.first)]);
    args.emplace(arg.name, node.arg_index);
    body->nodes_.push_back(std::move(node));
  }

  const std::string context = " in function '" + sig.name() + "'";
  body->nodes_.reserve(body->nodes_.size() + static_cast<size_t>(function.node_def_size()));
  for (const auto& def : function.node_def()) {
    if (body->index_.count(def.name()) > 0) {
      return invalid_argument(where + "two nodes named '" + def.name() + "'");
    }
    if (!has_placeholder(def)) {
      body->add_node(graph, def, context);
      continue;
    }
    tensorflow::NodeDef& copy = body->owned_defs_.emplace_back(def);
    for (auto& kv : *copy.mutable_attr()) {
      if (kv.second.value_case() != tensorflow::AttrValue::kPlaceholder) continue;
      const auto it = own_attrs.find(kv.second.placeholder());
      if (it == own_attrs.end()) {
        return invalid_argument(where + "node '" + def.name() + "' uses attr placeholder '" +
                                kv.second.placeholder() + "', which the call does not give");
      }
      kv.second = it->second;
    }
    body->add_node(graph, copy, context);
  }
  body->resolve_function_inputs(args);

  OutputLayout ret_layout;
  QTF_RETURN_IF_ERROR(arg_layout(sig.output_arg(), own_attrs, where, &ret_layout));
  for (const OutputArg& ret : ret_layout.args) {
    if (ret.count != 1) {
      return unimplemented(where + "list-valued result '" + ret.name + "' is not supported");
    }
    const auto it = function.ret().find(ret.name);
    if (it == function.ret().end()) return invalid_argument(where + "no value for result '" + ret.name + "'");
    ValueRef ref;
    QTF_RETURN_IF_ERROR(body->resolve_function_ref(it->second, args, &ref));
    body->rets_.push_back(ref);
    body->ret_types_.push_back(ret_layout.types[static_cast<size_t>(ret.first)]);
  }
  for (const auto& kv : function.control_ret()) {
    const auto it = body->index_.find(kv.second);
    if (it == body->index_.end()) {
      return invalid_argument(where + "control result '" + kv.first + "' names no node");
    }
    body->control_rets_.push_back(it->second);
  }
  // Map order is unspecified; run control results in a fixed order.
  std::sort(body->control_rets_.begin(), body->control_rets_.end());
  *out = std::move(body);
  return Status::ok();
}

Status Body::resolve_function_ref(const std::string& ref,
                                  const std::unordered_map<std::string, int>& args,
                                  ValueRef* out) const {
  const size_t first = ref.find(':');
  const size_t last = ref.rfind(':');
  if (first == last) {
    // "arg" or "arg:0"
    const std::string name = ref.substr(0, first);
    int index = 0;
    if (first != std::string::npos && (!parse_index(ref.substr(first + 1), &index) || index != 0)) {
      return invalid_argument("Malformed reference '" + ref + "'");
    }
    const auto it = args.find(name);
    if (it == args.end()) return invalid_argument("Reference '" + ref + "' names no function argument");
    *out = ValueRef{it->second, 0};
    return Status::ok();
  }
  // "node:out_arg:index"
  const std::string name = ref.substr(0, first);
  const std::string arg = ref.substr(first + 1, last - first - 1);
  int index = 0;
  if (!parse_index(ref.substr(last + 1), &index)) return invalid_argument("Malformed reference '" + ref + "'");
  const auto it = index_.find(name);
  if (it == index_.end()) return invalid_argument("Reference '" + ref + "' names no node");
  const BodyNode& source = nodes_[static_cast<size_t>(it->second)];
  if (!source.status.is_ok()) return source.status;
  const int flat = source.outputs.flat_index(arg, index);
  if (flat < 0) {
    return invalid_argument("Reference '" + ref + "': node '" + name + "' has no output '" + arg +
                            ":" + std::to_string(index) + "'");
  }
  *out = ValueRef{it->second, flat};
  return Status::ok();
}

void Body::resolve_function_inputs(const std::unordered_map<std::string, int>& args) {
  for (BodyNode& node : nodes_) {
    if (node.is_arg()) continue;
    for (const std::string& input : node.def->input()) {
      if (!input.empty() && input[0] == '^') {
        const auto it = index_.find(input.substr(1));
        if (it != index_.end()) {
          node.control_inputs.push_back(it->second);
        } else if (node.status.is_ok()) {
          node.status = invalid_argument("Node '" + node.name + "' in function '" + function_name_ +
                                         "': control input '" + input + "' names no node");
        }
        continue;
      }
      ValueRef ref;
      const Status s = resolve_function_ref(input, args, &ref);
      if (!s.is_ok()) {
        // A node that cannot run already says why; consumers pass that on
        // as it is, or the message would grow along every chain of nodes.
        const std::string source = input.substr(0, input.find(':'));
        const auto it = index_.find(source);
        const bool inherited = it != index_.end() && !nodes_[static_cast<size_t>(it->second)].status.is_ok();
        if (node.status.is_ok()) {
          node.status = inherited ? s
                                  : Status(s.code(), s.message() + " (input of node '" + node.name +
                                                         "' in function '" + function_name_ + "')");
        }
        continue;
      }
      node.inputs.push_back(ref);
    }
  }
}

}  // namespace qtf
