#include "exec/op_census.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/kernel.h"

namespace qtf {
namespace {

// Ops the executor runs without a kernel.
bool executor_runs_op(const std::string& op) {
  return op == "StatefulPartitionedCall" || op == "PartitionedCall";
}

// "node:3" and "node" name the same tensor as "node:3" and "node:0".
std::string tensor_key(const std::string& name) {
  const size_t colon = name.rfind(':');
  if (colon != std::string::npos && colon + 1 < name.size() &&
      name.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    return name;
  }
  return name + ":0";
}

std::string node_of_tensor(const std::string& name) {
  const std::string key = tensor_key(name);
  return key.substr(0, key.rfind(':'));
}

class Walker {
 public:
  explicit Walker(const tensorflow::GraphDef& graph) : graph_(graph) {
    for (int i = 0; i < graph.node_size(); ++i) outer_.emplace(graph.node(i).name(), i);
    for (const auto& f : graph.library().function()) library_.emplace(f.signature().name(), &f);
  }

  void walk_run(const PathRun& run) {
    std::unordered_set<std::string> fed_tensors, fed_nodes;
    for (const std::string& f : run.feeds) {
      fed_tensors.insert(tensor_key(f));
      fed_nodes.insert(node_of_tensor(f));
    }
    std::unordered_set<int> seen;
    std::vector<int> stack;
    auto push = [&](const std::string& input) {
      std::string name;
      if (!input.empty() && input[0] == '^') {
        name = input.substr(1);
        if (fed_nodes.count(name) != 0) return;
      } else {
        if (fed_tensors.count(tensor_key(input)) != 0) return;
        name = node_of_tensor(input);
      }
      const auto it = outer_.find(name);
      if (it != outer_.end() && seen.insert(it->second).second) stack.push_back(it->second);
    };
    for (const std::string& root : run.roots) push(root);
    while (!stack.empty()) {
      const tensorflow::NodeDef& node = graph_.node(stack.back());
      stack.pop_back();
      if (counted_outer_.insert(node.name()).second) visit(node, "");
      for (const std::string& input : node.input()) push(input);
    }
  }

  std::vector<OpUse> result() const {
    std::vector<OpUse> ops;
    for (const auto& [op, use] : uses_) ops.push_back(use);
    std::stable_sort(ops.begin(), ops.end(),
                     [](const OpUse& a, const OpUse& b) { return a.count > b.count; });
    return ops;
  }

 private:
  // Counts a node and follows every function it may call.
  void visit(const tensorflow::NodeDef& node, const std::string& function) {
    if (library_.count(node.op()) != 0) {
      walk_function(node.op());
    } else {
      auto [it, added] = uses_.try_emplace(node.op());
      OpUse& use = it->second;
      if (added) {
        use.op = node.op();
        use.supported = runtime_runs_op(node.op());
      }
      ++use.count;
      if (added || std::make_pair(function, node.name()) < std::make_pair(use.function, use.node)) {
        use.function = function;
        use.node = node.name();
      }
    }
    for (const auto& [key, value] : node.attr()) follow_funcs(value);
  }

  void follow_funcs(const tensorflow::AttrValue& value) {
    if (value.has_func()) {
      walk_function(value.func().name());
      for (const auto& [key, inner] : value.func().attr()) follow_funcs(inner);
    }
    for (const auto& fn : value.list().func()) {
      walk_function(fn.name());
      for (const auto& [key, inner] : fn.attr()) follow_funcs(inner);
    }
  }

  // A function runs what its results and control results depend on.
  void walk_function(const std::string& name) {
    const auto fit = library_.find(name);
    if (fit == library_.end() || !walked_.insert(name).second) return;
    const tensorflow::FunctionDef& fn = *fit->second;
    std::unordered_map<std::string, int> nodes;
    for (int i = 0; i < fn.node_def_size(); ++i) nodes.emplace(fn.node_def(i).name(), i);
    std::unordered_set<int> seen;
    std::vector<int> stack;
    // "^node", "node:out_arg:i", or an argument name (which is no node).
    auto push = [&](const std::string& ref) {
      const size_t start = !ref.empty() && ref[0] == '^' ? 1 : 0;
      const std::string node = ref.substr(start, ref.find(':', start) - start);
      const auto it = nodes.find(node);
      if (it != nodes.end() && seen.insert(it->second).second) stack.push_back(it->second);
    };
    // Map order is unspecified; sort so the walk is the same every time.
    std::set<std::string> roots;
    for (const auto& [key, ref] : fn.ret()) roots.insert(ref);
    for (const auto& [key, node] : fn.control_ret()) roots.insert("^" + node);
    for (const std::string& root : roots) push(root);
    while (!stack.empty()) {
      const tensorflow::NodeDef& node = fn.node_def(stack.back());
      stack.pop_back();
      visit(node, name);
      for (const std::string& input : node.input()) push(input);
    }
  }

  const tensorflow::GraphDef& graph_;
  std::unordered_map<std::string, int> outer_;
  std::unordered_map<std::string, const tensorflow::FunctionDef*> library_;
  std::unordered_set<std::string> counted_outer_;
  std::unordered_set<std::string> walked_;
  std::map<std::string, OpUse> uses_;  // by op name, so equal counts stay in name order
};

// At most `limit` bytes of `text`, cut with "…" (which keeps the line bound).
std::string shorten(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return text.substr(0, limit - 3) + "\xE2\x80\xA6";
}

std::string describe(const OpUse& use) {
  std::string out = shorten(use.op, 64) + " (" + std::to_string(use.count) + ", node '" +
                    shorten(use.node, 64) + "'";
  if (!use.function.empty()) out += " in '" + shorten(use.function, 96) + "'";
  return out + ")";
}

std::string more(size_t n) { return "\xE2\x80\xA6" "and " + std::to_string(n) + " more"; }

}  // namespace

bool runtime_runs_op(const std::string& op) {
  return executor_runs_op(op) || KernelRegistry::global().find(op) != nullptr;
}

bool is_reference_variable_op(const std::string& op) {
  return op == "VariableV2" || op == "Variable" || op == "TemporaryVariable" || op == "Assign";
}

std::vector<OpUse> census_ops(const tensorflow::GraphDef& graph, const std::vector<PathRun>& runs) {
  Walker walker(graph);
  for (const PathRun& run : runs) walker.walk_run(run);
  return walker.result();
}

std::string unsupported_ops_line(const std::vector<OpUse>& ops) {
  std::vector<const OpUse*> missing;
  for (const OpUse& use : ops) {
    if (!use.supported && !is_reference_variable_op(use.op)) missing.push_back(&use);
  }
  if (missing.empty()) return "";
  std::string line = "unsupported ops: ";
  for (size_t i = 0; i < missing.size(); ++i) {
    const std::string entry = (i > 0 ? ", " : "") + describe(*missing[i]);
    const size_t left = missing.size() - i - 1;
    const size_t reserve = left > 0 ? 2 + more(left).size() : 0;
    if (line.size() + entry.size() + reserve > kMaxUnsupportedOpsLine) {
      return line + (i > 0 ? ", " : "") + more(missing.size() - i);
    }
    line += entry;
  }
  return line;
}

}  // namespace qtf
