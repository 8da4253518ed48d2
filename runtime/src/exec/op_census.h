// Op census: the op types a set of runs over a SavedModel graph would execute,
// found by walking the GraphDef and its function library by name only, so it
// works on graphs whose ops the runtime does not know (their outputs cannot be
// resolved, but their names can). The loader refuses a model whose serving
// path needs unsupported ops with one bounded line naming all of them;
// `quarrow-models inspect` lists the whole census.
#pragma once

#include <string>
#include <vector>

#include "graph.pb.h"

namespace qtf {

// One op type on the path: how many nodes use it, and one of them (the first
// by function name, then node name; outer-graph nodes come first).
struct OpUse {
  std::string op;
  int count = 0;
  std::string node;
  std::string function;  // empty for a node of the outer graph
  bool supported = false;
};

// One run the path covers: the tensors it feeds ("node:index" or "node") and
// what it needs: tensors, nodes, or "^node" for a node run for its effects.
struct PathRun {
  std::vector<std::string> feeds;
  std::vector<std::string> roots;
};

// True when the runtime can run `op`: it has a kernel, or the executor runs
// it itself (function calls).
bool runtime_runs_op(const std::string& op);

// TensorFlow 1 reference-variable ops, which planning refuses with a message
// of their own (export with resource variables).
bool is_reference_variable_op(const std::string& op);

// The op types the runs need, most used first, then by name. Calls are
// followed into the callee however they are made: call ops, nodes whose op is
// a library function, and every func or list(func) attr (branches, loop
// bodies...). Each node is counted once, however often its function is called.
std::vector<OpUse> census_ops(const tensorflow::GraphDef& graph, const std::vector<PathRun>& runs);

// Longest line unsupported_ops_line returns, in bytes.
constexpr size_t kMaxUnsupportedOpsLine = 400;

// "unsupported ops: If (2, node 'cond' in '__inference_call_91'), ..." in the
// census order, cut with "…and N more" to stay within kMaxUnsupportedOpsLine;
// empty when every op is supported. Reference-variable ops are left to their
// own message.
std::string unsupported_ops_line(const std::vector<OpUse>& ops);

}  // namespace qtf
