#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "exec/session.h"
#include "graph_test_util.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT: builders keep the graphs readable
using tensorflow::DT_FLOAT;
using tensorflow::DT_RESOURCE;

// Counts kernel constructions and runs, to check what the executor creates.
int g_counter_made = 0;
int g_counter_runs = 0;

class CounterKernel : public OpKernel {
 public:
  CounterKernel(const NodeAttrs&, Status*) { ++g_counter_made; }
  Status compute(OpKernelContext& ctx) override {
    ++g_counter_runs;
    ctx.set_output(0, ctx.input(0));
    return Status::ok();
  }
};
QTF_REGISTER_KERNEL("QtfTestCounter", CounterKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "QtfTestCounter"
  input_arg { name: "x" type_attr: "T" }
  output_arg { name: "counted" type_attr: "T" }
  attr { name: "T" type: "type" default_value { type: DT_FLOAT } })pb");

Tensor floats(Shape shape, std::vector<float> values) {
  Tensor t = Tensor::allocate(TF_FLOAT, std::move(shape));
  for (size_t i = 0; i < values.size(); ++i) t.data<float>()[i] = values[i];
  return t;
}

std::vector<float> values(const Tensor& t) {
  return std::vector<float>(t.data<float>(), t.data<float>() + t.num_elements());
}

class ExecutorTest : public ::testing::Test {
 protected:
  void SetUp() override { g_counter_made = g_counter_runs = 0; }

  void load() {
    auto graph = std::make_shared<Graph>();
    const Status s = graph->init(graph_def_, tensorflow::OpList());
    ASSERT_TRUE(s.is_ok()) << s.message();
    session_ = std::make_unique<Session>(graph);
  }

  ValueRef ref(const std::string& name) {
    ValueRef r;
    EXPECT_TRUE(session_->parse_tensor_name(name, &r).is_ok()) << name;
    return r;
  }

  Status run(const std::vector<std::pair<std::string, Tensor>>& feeds,
             const std::vector<std::string>& fetches, std::vector<Tensor>* out,
             const std::vector<std::string>& targets = {}) {
    std::vector<ValueRef> feed_refs, fetch_refs;
    std::vector<Tensor> feed_values;
    std::vector<int> target_nodes;
    for (const auto& [name, value] : feeds) {
      feed_refs.push_back(ref(name));
      feed_values.push_back(value);
    }
    for (const auto& name : fetches) fetch_refs.push_back(ref(name));
    for (const auto& name : targets) target_nodes.push_back(ref(name).node);
    return session_->run(feed_refs, std::move(feed_values), fetch_refs, target_nodes, out);
  }

  void add(tensorflow::NodeDef n) { *graph_def_.add_node() = std::move(n); }
  void add(tensorflow::FunctionDef f) { *graph_def_.mutable_library()->add_function() = std::move(f); }

  tensorflow::GraphDef graph_def_;
  std::unique_ptr<Session> session_;
};

TEST_F(ExecutorTest, FeedsAnyOutputAndEvaluatesOnlyWhatFetchesNeed) {
  add(placeholder("x", DT_FLOAT, {-1}));
  add(const_node("two", float_proto({}, {2.0f})));
  add(node("y", "Mul", {"x", "two"}, {{"T", type_attr(DT_FLOAT)}}));
  add(node("z", "AddV2", {"y:0", "two"}, {{"T", type_attr(DT_FLOAT)}}));
  load();

  std::vector<Tensor> out;
  Status s = run({{"x", floats({3}, {1, 2, 3})}}, {"z", "y:0"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), (std::vector<float>{4, 6, 8}));
  EXPECT_EQ(values(out[1]), (std::vector<float>{2, 4, 6}));

  // Feeding y cuts x off: the placeholder is not needed.
  s = run({{"y", floats({1}, {10})}}, {"z"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), std::vector<float>{12});

  // A fed value can be fetched as it is.
  s = run({{"y", floats({1}, {7})}}, {"y"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), std::vector<float>{7});
}

TEST_F(ExecutorTest, RejectsMissingAndMismatchedFeedsNamingTheNode) {
  add(placeholder("x", DT_FLOAT, {-1, 2}));
  add(node("y", "Identity", {"x"}, {{"T", type_attr(DT_FLOAT)}}));
  load();
  std::vector<Tensor> out;
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Tensor>> feeds;
    const char* message_part;
  };
  Tensor ints = Tensor::allocate(TF_INT32, {1, 2});
  const Case cases[] = {
      {"unfed", {}, "must feed a value for placeholder tensor 'x'"},
      {"wrong type", {{"x", ints}}, "x:0 has type int32"},
      {"wrong rank", {{"x", floats({2}, {1, 2})}}, "not compatible"},
      {"wrong dim", {{"x", floats({1, 3}, {1, 2, 3})}}, "x:0 has shape [1,3]"},
  };
  for (const Case& c : cases) {
    const Status s = run(c.feeds, {"y"}, &out);
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << c.name;
    EXPECT_NE(s.message().find(c.message_part), std::string::npos) << c.name << ": " << s.message();
  }
  EXPECT_TRUE(run({{"x", floats({3, 2}, {1, 2, 3, 4, 5, 6})}}, {"y"}, &out).is_ok());
}

TEST_F(ExecutorTest, NestedCallsResolveOutputArgumentNames) {
  // inner(a, b) = b * a, via IdentityN's list output.
  add(function("inner", {{"a", DT_FLOAT}, {"b", DT_FLOAT}}, {{"product", DT_FLOAT}},
               {node("n", "IdentityN", {"a", "b:0"}, {{"T", types_attr({DT_FLOAT, DT_FLOAT})}}),
                node("m", "Mul", {"n:output:1", "n:output:0"}, {{"T", type_attr(DT_FLOAT)}})},
               {{"product", "m:z:0"}}));
  // outer(x) = inner(x, x) + inner-as-op(x, x)
  add(function("outer", {{"x", DT_FLOAT}}, {{"y", DT_FLOAT}},
               {call("c1", "inner", {"x", "x"}, {DT_FLOAT, DT_FLOAT}, {DT_FLOAT}, "PartitionedCall"),
                node("c2", "inner", {"x", "x"}),
                node("sum", "AddV2", {"c1:output:0", "c2:product:0"}, {{"T", type_attr(DT_FLOAT)}})},
               {{"y", "sum:z:0"}}));
  add(placeholder("x", DT_FLOAT, {-1}));
  add(call("call", "outer", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  load();
  std::vector<Tensor> out;
  const Status s = run({{"x", floats({2}, {3, -1})}}, {"call"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), (std::vector<float>{18, 2}));
}

TEST_F(ExecutorTest, ControlInputsAndControlResultsRunAssignments) {
  // set(v, value) assigns through a control result only; nothing reads its output.
  add(function("set", {{"v", DT_RESOURCE}, {"value", DT_FLOAT}}, {{"done", DT_FLOAT}},
               {node("assign", "AssignVariableOp", {"v", "value"}, {{"dtype", type_attr(DT_FLOAT)}}),
                node("out", "Identity", {"value", "^assign"}, {{"T", type_attr(DT_FLOAT)}})},
               {{"done", "out:output:0"}}, {{"assign", "assign"}}));
  add(node("var", "VarHandleOp", {}, {{"dtype", type_attr(DT_FLOAT)}, {"shape", shape_attr({1})},
                                      {"shared_name", string_attr("var")}}));
  add(const_node("five", float_proto({1}, {5})));
  add(call("restore", "set", {"var", "five"}, {DT_RESOURCE, DT_FLOAT}, {DT_FLOAT}));
  add(node("read", "ReadVariableOp", {"var"}, {{"dtype", type_attr(DT_FLOAT)}}));
  add(node("is_init", "VarIsInitializedOp", {"var"}));
  load();

  std::vector<Tensor> out;
  Status s = run({}, {"read"}, &out);
  EXPECT_EQ(s.code(), TF_FAILED_PRECONDITION) << s.message();
  ASSERT_TRUE(run({}, {"is_init"}, &out).is_ok());
  EXPECT_FALSE(*out[0].data<bool>());

  ASSERT_TRUE(run({}, {}, &out, {"restore"}).is_ok());
  s = run({}, {"read", "is_init"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), std::vector<float>{5});
  EXPECT_TRUE(*out[1].data<bool>());
}

TEST_F(ExecutorTest, UnreachableUnknownOpsAreIgnoredReachableOnesReported) {
  add(function("training_step", {{"x", DT_FLOAT}}, {{"y", DT_FLOAT}},
               {node("noise", "RandomUniformQtfNever", {"x"}, {})}, {{"y", "noise:output:0"}}));
  add(placeholder("x", DT_FLOAT, {1}));
  add(call("train", "training_step", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  add(node("serve", "Identity", {"x"}, {{"T", type_attr(DT_FLOAT)}}));
  load();
  std::vector<Tensor> out;
  ASSERT_TRUE(run({{"x", floats({1}, {1})}}, {"serve"}, &out).is_ok());
  const Status s = run({{"x", floats({1}, {1})}}, {"train"}, &out);
  EXPECT_EQ(s.code(), TF_UNIMPLEMENTED);
  EXPECT_NE(s.message().find("RandomUniformQtfNever"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("noise"), std::string::npos) << s.message();
}

TEST_F(ExecutorTest, KernelsAreMadeOncePerNodeAndReusedAcrossRuns) {
  add(placeholder("x", DT_FLOAT, {1}));
  add(node("counted", "QtfTestCounter", {"x"}));
  add(node("unused", "QtfTestCounter", {"x"}));
  load();
  std::vector<Tensor> out;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(run({{"x", floats({1}, {1})}}, {"counted"}, &out).is_ok());
  // Another request over the same node shares its kernel.
  ASSERT_TRUE(run({{"x", floats({1}, {1})}}, {"counted", "x"}, &out).is_ok());
  EXPECT_EQ(g_counter_made, 1);
  EXPECT_EQ(g_counter_runs, 4);
}

TEST_F(ExecutorTest, RunKeepsNoReferenceToFedBuffers) {
  add(placeholder("x", DT_FLOAT, {2}));
  add(node("a", "Identity", {"x"}, {{"T", type_attr(DT_FLOAT)}}));
  add(node("b", "Mul", {"a", "a"}, {{"T", type_attr(DT_FLOAT)}}));
  load();
  std::vector<float> buffer{3, 4};
  int released = 0;
  {
    Tensor fed = Tensor::borrow(TF_FLOAT, {2}, buffer.data(), 8, [&] { ++released; });
    std::vector<Tensor> out;
    ASSERT_TRUE(run({{"x", fed}}, {"b"}, &out).is_ok());
    EXPECT_EQ(values(out[0]), (std::vector<float>{9, 16}));
    EXPECT_EQ(released, 0);
  }
  EXPECT_EQ(released, 1);
}

TEST_F(ExecutorTest, AttrPlaceholdersTakeTheCallsValues) {
  tensorflow::FunctionDef generic =
      function("generic_identity", {}, {}, {node("id", "Identity", {"in"}, {})}, {{"out", "id:output:0"}});
  auto* sig = generic.mutable_signature();
  auto* in = sig->add_input_arg();
  in->set_name("in");
  in->set_type_attr("T");
  auto* out_arg = sig->add_output_arg();
  out_arg->set_name("out");
  out_arg->set_type_attr("T");
  sig->add_attr()->set_name("T");
  sig->mutable_attr(0)->set_type("type");
  tensorflow::AttrValue placeholder_value;
  placeholder_value.set_placeholder("T");
  (*generic.mutable_node_def(0)->mutable_attr())["T"] = placeholder_value;
  add(generic);
  add(placeholder("x", DT_FLOAT, {1}));
  tensorflow::NodeDef c = call("c", "generic_identity", {"x"}, {DT_FLOAT}, {DT_FLOAT});
  (*(*c.mutable_attr())["f"].mutable_func()->mutable_attr())["T"] = type_attr(DT_FLOAT);
  add(c);
  load();
  std::vector<Tensor> out;
  const Status s = run({{"x", floats({1}, {42})}}, {"c"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values(out[0]), std::vector<float>{42});
}

TEST_F(ExecutorTest, CyclesAndSelfCallsAreErrors) {
  add(node("a", "Identity", {"b"}, {{"T", type_attr(DT_FLOAT)}}));
  add(node("b", "Identity", {"a"}, {{"T", type_attr(DT_FLOAT)}}));
  add(function("forever", {{"x", DT_FLOAT}}, {{"y", DT_FLOAT}},
               {call("again", "forever", {"x"}, {DT_FLOAT}, {DT_FLOAT})}, {{"y", "again:output:0"}}));
  add(placeholder("x", DT_FLOAT, {1}));
  add(call("loop", "forever", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  load();
  std::vector<Tensor> out;
  Status s = run({}, {"a"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("cycle"), std::string::npos) << s.message();
  s = run({{"x", floats({1}, {1})}}, {"loop"}, &out);
  EXPECT_EQ(s.code(), TF_UNIMPLEMENTED) << s.message();
}

TEST_F(ExecutorTest, BadReferencesAreReportedWhenNeeded) {
  add(placeholder("x", DT_FLOAT, {1}));
  add(node("bad_input", "Identity", {"nowhere"}, {{"T", type_attr(DT_FLOAT)}}));
  add(function("f", {{"a", DT_FLOAT}}, {{"b", DT_FLOAT}},
               {node("id", "Identity", {"a"}, {{"T", type_attr(DT_FLOAT)}})}, {{"b", "id:nonesuch:0"}}));
  add(call("bad_ret", "f", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  add(call("missing_fn", "no_such_function", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  add(node("ok", "Identity", {"x"}, {{"T", type_attr(DT_FLOAT)}}));
  load();
  std::vector<Tensor> out;
  EXPECT_TRUE(run({{"x", floats({1}, {1})}}, {"ok"}, &out).is_ok());
  EXPECT_EQ(run({}, {"bad_input"}, &out).code(), TF_INVALID_ARGUMENT);
  Status s = run({{"x", floats({1}, {1})}}, {"bad_ret"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("nonesuch"), std::string::npos) << s.message();
  s = run({{"x", floats({1}, {1})}}, {"missing_fn"}, &out);
  EXPECT_EQ(s.code(), TF_NOT_FOUND);
  EXPECT_NE(s.message().find("no_such_function"), std::string::npos) << s.message();
  EXPECT_EQ(run({{"x", floats({1}, {1})}}, {"ok:1"}, &out).code(), TF_INVALID_ARGUMENT);
}

TEST_F(ExecutorTest, OutOfRangeTypeNumbersAreRejected) {
  add(placeholder("x", DT_FLOAT, {1}));
  add(node("corrupt", "Identity", {"x"}, {{"T", type_attr(static_cast<tensorflow::DataType>(81))}}));
  load();
  std::vector<Tensor> out;
  const Status s = run({{"x", floats({1}, {1})}}, {"corrupt"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("invalid data type 81"), std::string::npos) << s.message();
}

TEST_F(ExecutorTest, NodesMustHaveTheInputsTheirOpDeclares) {
  tensorflow::AttrValue two;
  two.set_i(2);
  const Attrs float_t{{"T", type_attr(DT_FLOAT)}};
  add(placeholder("x", DT_FLOAT, {1}));
  add(node("too_few", "AddV2", {"x"}, float_t));
  add(node("too_many", "Identity", {"x", "x"}, float_t));
  // A list-valued input counts its N entries; control inputs do not count.
  add(node("packed", "Pack", {"x", "x", "^x"}, {{"T", type_attr(DT_FLOAT)}, {"N", two}}));
  add(node("short_list", "Pack", {"x"}, {{"T", type_attr(DT_FLOAT)}, {"N", two}}));
  add(function("f", {{"a", DT_FLOAT}}, {{"b", DT_FLOAT}},
               {node("id", "Identity", {"a"}, float_t)}, {{"b", "id:output:0"}}));
  add(node("direct_call", "f", {"x", "x"}));
  load();
  std::vector<Tensor> out;
  const std::vector<std::pair<std::string, Tensor>> feed{{"x", floats({1}, {3})}};
  const struct {
    const char* node;
    const char* fragment;
  } bad[] = {
      {"too_few", "AddV2 node 'too_few': has 1 inputs, its op takes 2"},
      {"too_many", "has 2 inputs, its op takes 1"},
      {"short_list", "has 1 inputs, its op takes 2"},
      {"direct_call", "f node 'direct_call': has 2 inputs, its op takes 1"},
  };
  for (const auto& c : bad) {
    const Status s = run(feed, {c.node}, &out);
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << c.node;
    EXPECT_NE(s.message().find(c.fragment), std::string::npos) << s.message();
  }
  ASSERT_TRUE(run(feed, {"packed"}, &out).is_ok());
  EXPECT_EQ(out[0].shape(), (Shape{2, 1}));
  EXPECT_EQ(values(out[0]), (std::vector<float>{3, 3}));
}

}  // namespace
}  // namespace qtf
