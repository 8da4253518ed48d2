// The op census over hand-made graphs: which nodes a run reaches (feeds stop
// the walk, control inputs and every way of calling a function continue it),
// the counts and examples, and the bounded refusal line.
#include "exec/op_census.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph_test_util.h"

namespace qtf {
namespace {

using testing::Arg;
using testing::call;
using testing::func_attr;
using testing::function;
using testing::node;
using tensorflow::DT_FLOAT;

const OpUse* find_use(const std::vector<OpUse>& ops, const std::string& op) {
  for (const OpUse& use : ops) {
    if (use.op == op) return &use;
  }
  return nullptr;
}

std::vector<std::string> op_names(const std::vector<OpUse>& ops) {
  std::vector<std::string> names;
  for (const OpUse& use : ops) names.push_back(use.op);
  return names;
}

// x -> StatefulPartitionedCall(outer_fn) -> out; outer_fn calls inner_fn by
// op name and holds an If-like node whose branches are func attrs; a While-
// like node names its bodies in a list(func) attr.
tensorflow::GraphDef nested_graph() {
  tensorflow::GraphDef g;
  *g.add_node() = testing::placeholder("x", DT_FLOAT, {1});
  *g.add_node() = node("unused_input", "QtfFeedOnly", {});
  *g.add_node() = node("pre", "QtfPre", {"x", "unused_input"});
  *g.add_node() = call("call", "outer_fn", {"pre:0"}, {DT_FLOAT}, {DT_FLOAT});
  *g.add_node() = node("out", "Identity", {"call:0", "^side"});
  *g.add_node() = node("side", "QtfSide", {});
  *g.add_node() = node("dead", "QtfDead", {"x"});
  auto* lib = g.mutable_library();
  tensorflow::AttrValue bodies;
  *bodies.mutable_list()->add_func() = func_attr("loop_body").func();
  *lib->add_function() = function(
      "outer_fn", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
      {node("inner", "inner_fn", {"a"}), node("cond", "QtfIf", {"inner:y:0"},
                                              {{"then_branch", func_attr("then_fn")},
                                               {"else_branch", func_attr("else_fn")}}),
       node("loop", "QtfWhile", {"cond:output:0"}, {{"bodies", bodies}}),
       node("effect", "QtfAssert", {"a"}), node("unreached", "QtfNowhere", {"a"})},
      {{"y", "loop:output:0"}}, {{"effect", "effect"}});
  *lib->add_function() = function("inner_fn", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
                                  {node("and1", "QtfAnd", {"a"}), node("and2", "QtfAnd", {"and1:z:0"})},
                                  {{"y", "and2:z:0"}});
  *lib->add_function() = function("then_fn", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
                                  {node("t", "QtfAnd", {"a"})}, {{"y", "t:z:0"}});
  *lib->add_function() = function("else_fn", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
                                  {node("e", "Relu", {"a"})}, {{"y", "e:activations:0"}});
  *lib->add_function() = function("loop_body", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
                                  {node("w", "QtfWhere", {"a"})}, {{"y", "w:index:0"}});
  *lib->add_function() = function("never_called", {{"a", DT_FLOAT}}, {{"y", DT_FLOAT}},
                                  {node("n", "QtfNever", {"a"})}, {{"y", "n:z:0"}});
  return g;
}

TEST(OpCensus, FollowsEveryWayOfCallingAFunction) {
  const std::vector<OpUse> ops = census_ops(nested_graph(), {PathRun{{"x:0"}, {"out:0"}}});
  // QtfAnd: two in inner_fn, one in then_fn; the rest once each, by name.
  EXPECT_EQ(op_names(ops),
            (std::vector<std::string>{"QtfAnd", "Identity", "QtfAssert", "QtfFeedOnly", "QtfIf",
                                      "QtfPre", "QtfSide", "QtfWhere", "QtfWhile", "Relu",
                                      "StatefulPartitionedCall"}));
  const OpUse* and_use = find_use(ops, "QtfAnd");
  ASSERT_NE(and_use, nullptr);
  EXPECT_EQ(and_use->count, 3);
  EXPECT_EQ(and_use->function, "inner_fn");  // first by function name, then node name
  EXPECT_EQ(and_use->node, "and1");
  EXPECT_FALSE(and_use->supported);
  const OpUse* pre = find_use(ops, "QtfPre");
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->function, "");
  EXPECT_EQ(pre->node, "pre");
  EXPECT_TRUE(find_use(ops, "Relu")->supported);
  EXPECT_TRUE(find_use(ops, "StatefulPartitionedCall")->supported);
  EXPECT_TRUE(find_use(ops, "Identity")->supported);
  // Unreached nodes, uncalled functions, the fed placeholder, and calls by
  // op name (which are no op).
  for (const char* absent : {"QtfDead", "QtfNowhere", "QtfNever", "Placeholder", "inner_fn"}) {
    EXPECT_EQ(find_use(ops, absent), nullptr) << absent;
  }
}

TEST(OpCensus, FeedsStopTheWalk) {
  struct Case {
    const char* what;
    PathRun run;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"feeding pre's output cuts off its inputs", {{"pre"}, {"out"}}, {"QtfSide", "QtfIf"},
       {"QtfPre", "QtfFeedOnly", "Placeholder"}},
      {"feeding the output itself runs nothing", {{"out:0"}, {"out:0"}}, {}, {"Identity", "QtfIf"}},
      {"a control root runs the node", {{}, {"^side"}}, {"QtfSide"}, {"Identity"}},
      {"control inputs on a fed node are not followed", {{"side:0", "x"}, {"out"}}, {"Identity"},
       {"QtfSide"}},
  };
  for (const Case& c : cases) {
    const std::vector<OpUse> ops = census_ops(nested_graph(), {c.run});
    for (const std::string& op : c.present) EXPECT_NE(find_use(ops, op), nullptr) << c.what << ": " << op;
    for (const std::string& op : c.absent) EXPECT_EQ(find_use(ops, op), nullptr) << c.what << ": " << op;
  }
}

TEST(OpCensus, NodesCountOnceAcrossRunsAndCalls) {
  tensorflow::GraphDef g = nested_graph();
  // A second call of outer_fn and the same run twice add nothing.
  *g.add_node() = call("call_again", "outer_fn", {"x"}, {DT_FLOAT}, {DT_FLOAT});
  const PathRun run{{"x"}, {"out", "call_again:0"}};
  const std::vector<OpUse> ops = census_ops(g, {run, run});
  EXPECT_EQ(find_use(ops, "QtfAnd")->count, 3);
  EXPECT_EQ(find_use(ops, "StatefulPartitionedCall")->count, 2);
  EXPECT_EQ(find_use(ops, "QtfIf")->count, 1);
}

// Ops a graph reaches whose kernels live in their own files: the census
// must find each registered, else models using them are refused at load.
TEST(OpCensus, CountsTheRuntimesImageAndRandomOpsSupported) {
  const char* ops[] = {"DepthToSpace", "SpaceToDepth", "SpaceToBatchND", "BatchToSpaceND",
                       "SpaceToBatch", "BatchToSpace", "ExtractImagePatches", "Einsum",
                       "FusedBatchNorm", "FusedBatchNormV2", "FusedBatchNormV3", "LRN",
                       "RandomStandardNormal", "RandomUniform", "RandomUniformInt",
                       "TruncatedNormal", "StatelessRandomNormal", "StatelessRandomUniform",
                       "StatelessRandomUniformInt", "StatelessTruncatedNormal",
                       "StatelessRandomNormalV2", "StatelessRandomUniformV2",
                       "StatelessRandomUniformIntV2", "StatelessTruncatedNormalV2",
                       "StatelessRandomGetKeyCounter", "StatelessRandomGetKeyCounterAlg",
                       "StatelessRandomGetAlg", "ResizeBicubic", "CropAndResize",
                       "ScaleAndTranslate"};
  tensorflow::GraphDef g;
  *g.add_node() = testing::placeholder("x", DT_FLOAT, {1});
  std::vector<std::string> roots;
  for (const char* op : ops) {
    *g.add_node() = node(std::string("n_") + op, op, {"x"});
    roots.push_back(std::string("n_") + op);
  }
  const std::vector<OpUse> uses = census_ops(g, {PathRun{{"x"}, roots}});
  for (const char* op : ops) {
    const OpUse* use = find_use(uses, op);
    ASSERT_NE(use, nullptr) << op;
    EXPECT_TRUE(use->supported) << op;
  }
  EXPECT_EQ(unsupported_ops_line(uses), "");
}

OpUse missing(const std::string& op, int count, const std::string& node, const std::string& function) {
  OpUse use;
  use.op = op;
  use.count = count;
  use.node = node;
  use.function = function;
  return use;
}

TEST(UnsupportedOpsLine, NamesEveryMissingOpInOrder) {
  std::vector<OpUse> ops = {missing("LogicalAnd", 3, "and", "__inference_call_91"),
                            missing("If", 2, "cond", "__inference_call_91"), missing("Erf", 1, "gelu", "")};
  OpUse relu = missing("Relu", 9, "r", "");
  relu.supported = true;
  ops.insert(ops.begin(), relu);
  // Reference variables have their own message.
  ops.push_back(missing("VariableV2", 1, "v", ""));
  EXPECT_EQ(unsupported_ops_line(ops),
            "unsupported ops: LogicalAnd (3, node 'and' in '__inference_call_91'), "
            "If (2, node 'cond' in '__inference_call_91'), Erf (1, node 'gelu')");
  EXPECT_EQ(unsupported_ops_line({relu}), "");
  EXPECT_EQ(unsupported_ops_line({}), "");
}

TEST(UnsupportedOpsLine, StaysWithinItsBound) {
  for (size_t n : {1u, 5u, 12u, 40u, 300u}) {
    for (size_t name_length : {4u, 30u, 500u}) {
      std::vector<OpUse> ops;
      for (size_t k = 0; k < n; ++k) {
        ops.push_back(missing("Op" + std::to_string(k) + std::string(name_length, 'x'), 1,
                              std::string(name_length, 'n'), std::string(name_length, 'f')));
      }
      const std::string line = unsupported_ops_line(ops);
      EXPECT_LE(line.size(), kMaxUnsupportedOpsLine) << n << " ops, names of " << name_length;
      EXPECT_EQ(line.find('\n'), std::string::npos);
      size_t listed = 0;
      for (size_t at = line.find(" (1, node '"); at != std::string::npos; at = line.find(" (1, node '", at + 1)) {
        ++listed;
      }
      ASSERT_GE(listed, 1u);
      if (listed < n) {
        const std::string tail = "\xE2\x80\xA6" "and " + std::to_string(n - listed) + " more";
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
      } else {
        EXPECT_EQ(line.find("more"), std::string::npos) << line;
      }
    }
  }
}

TEST(UnsupportedOpsLine, ShortensOverlongNames) {
  const std::string line = unsupported_ops_line({missing(std::string(300, 'O'), 1, std::string(300, 'n'),
                                                         std::string(300, 'f'))});
  EXPECT_LE(line.size(), kMaxUnsupportedOpsLine);
  EXPECT_EQ(line.substr(0, 17 + 61), "unsupported ops: " + std::string(61, 'O'));
  EXPECT_NE(line.find(std::string(61, 'O') + "\xE2\x80\xA6 (1, node '" + std::string(61, 'n') + "\xE2\x80\xA6' in '" +
                      std::string(93, 'f') + "\xE2\x80\xA6')"),
            std::string::npos)
      << line;
}

}  // namespace
}  // namespace qtf
