// If, Case and While over hand-built library functions, run through a
// session: which branch runs, TensorFlow's truth rules, loop results against
// hand-worked values, shape-changing loop variables, Assert and the identity
// ops, and that loop bodies are made once and get their variables by move.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "exec/session.h"
#include "graph_test_util.h"
#include "kernel_testing.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT: builders keep the graphs readable
using tensorflow::DT_BOOL;
using tensorflow::DT_FLOAT;
using tensorflow::DT_INT32;
using tensorflow::DT_VARIANT;

// Counts constructions and runs, and records whether its input reached it
// as the only reference (so a kernel after it could work in place).
int g_made = 0;
int g_runs = 0;
std::vector<bool> g_sole;

class ProbeKernel : public OpKernel {
 public:
  ProbeKernel(const NodeAttrs&, Status*) { ++g_made; }
  Status compute(OpKernelContext& ctx) override {
    ++g_runs;
    g_sole.push_back(ctx.input(0).is_sole_owner());
    ctx.set_output(0, ctx.input(0));
    return Status::ok();
  }
};
QTF_REGISTER_KERNEL("QtfTestProbe", ProbeKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "QtfTestProbe"
  input_arg { name: "x" type_attr: "T" }
  output_arg { name: "y" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

tensorflow::AttrValue shapes_attr(const std::vector<std::vector<int64_t>>& shapes) {
  tensorflow::AttrValue v;
  v.mutable_list();
  for (const auto& dims : shapes) {
    auto* s = v.mutable_list()->add_shape();
    for (int64_t d : dims) s->add_dim()->set_size(d);
  }
  return v;
}

tensorflow::TensorProto int_proto(std::initializer_list<int64_t> dims, std::initializer_list<int32_t> values) {
  tensorflow::TensorProto p;
  p.set_dtype(DT_INT32);
  for (int64_t d : dims) p.mutable_tensor_shape()->add_dim()->set_size(d);
  for (int32_t v : values) p.add_int_val(v);
  return p;
}

tensorflow::AttrValue T(tensorflow::DataType t) { return type_attr(t); }

class ControlFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_made = g_runs = 0;
    g_sole.clear();
  }

  Status load() {
    auto graph = std::make_shared<Graph>();
    QTF_RETURN_IF_ERROR(graph->init(graph_def_, tensorflow::OpList()));
    session_ = std::make_unique<Session>(graph);
    return Status::ok();
  }

  ValueRef ref(const std::string& name) {
    ValueRef r;
    EXPECT_TRUE(session_->parse_tensor_name(name, &r).is_ok()) << name;
    return r;
  }

  Status run(const std::vector<std::pair<std::string, Tensor>>& feeds, const std::vector<std::string>& fetches,
             std::vector<Tensor>* out) {
    std::vector<ValueRef> feed_refs, fetch_refs;
    std::vector<Tensor> values;
    for (const auto& [name, value] : feeds) {
      feed_refs.push_back(ref(name));
      values.push_back(value);
    }
    for (const auto& name : fetches) fetch_refs.push_back(ref(name));
    return session_->run(feed_refs, std::move(values), fetch_refs, {}, out);
  }

  void add(tensorflow::NodeDef n) { *graph_def_.add_node() = std::move(n); }
  void add(tensorflow::FunctionDef f) { *graph_def_.mutable_library()->add_function() = std::move(f); }

  // then(x) = probe(x) * 2, else(x) = x + 10, both float.
  void add_branches() {
    add(function("then_fn", {{"x", DT_FLOAT}}, {{"identity", DT_FLOAT}},
                 {node("p", "QtfTestProbe", {"x"}, {{"T", T(DT_FLOAT)}}),
                  const_node("two", float_proto({}, {2})),
                  node("m", "Mul", {"p:y:0", "two:output:0"}, {{"T", T(DT_FLOAT)}})},
                 {{"identity", "m:z:0"}}));
    add(function("else_fn", {{"x", DT_FLOAT}}, {{"identity", DT_FLOAT}},
                 {const_node("ten", float_proto({}, {10})),
                  node("a", "AddV2", {"x", "ten:output:0"}, {{"T", T(DT_FLOAT)}})},
                 {{"identity", "a:z:0"}}));
  }

  tensorflow::GraphDef graph_def_;
  std::unique_ptr<Session> session_;
};

TEST_F(ControlFlowTest, IfRunsOnlyTheBranchThePredicateSelects) {
  add_branches();
  for (const char* op : {"If", "StatelessIf"}) {
    graph_def_.clear_node();
    add(placeholder("pred", DT_BOOL, {}));
    add(placeholder("x", DT_FLOAT, {-1}));
    add(node("if", op, {"pred", "x"},
             {{"Tcond", T(DT_BOOL)}, {"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})},
              {"then_branch", func_attr("then_fn")}, {"else_branch", func_attr("else_fn")}}));
    ASSERT_TRUE(load().is_ok());
    std::vector<Tensor> out;
    g_runs = 0;
    ASSERT_TRUE(run({{"pred", scalar<bool>(true)}, {"x", make<float>({2}, {1, 3})}}, {"if"}, &out).is_ok());
    EXPECT_EQ(values<float>(out[0]), (std::vector<float>{2, 6})) << op;
    EXPECT_EQ(g_runs, 1);
    ASSERT_TRUE(run({{"pred", scalar<bool>(false)}, {"x", make<float>({2}, {1, 3})}}, {"if"}, &out).is_ok());
    EXPECT_EQ(values<float>(out[0]), (std::vector<float>{11, 13})) << op;
    EXPECT_EQ(g_runs, 1) << "the untaken branch ran";
  }
}

TEST_F(ControlFlowTest, IfFollowsTensorFlowsTruthRules) {
  add_branches();
  struct Case {
    const char* name;
    tensorflow::DataType dtype;
    Tensor pred;
    bool taken;
  };
  Tensor empty_2d = Tensor::allocate(TF_FLOAT, {2, 0});
  const Case cases[] = {
      {"int32 zero", DT_INT32, scalar<int32_t>(0), false},
      {"int32 five", DT_INT32, scalar<int32_t>(5), true},
      {"float zero", DT_FLOAT, scalar<float>(0.0f), false},
      {"float negative", DT_FLOAT, scalar<float>(-1.5f), true},
      {"empty string", tensorflow::DT_STRING, Tensor::strings({}, {""}), false},
      {"string", tensorflow::DT_STRING, Tensor::strings({}, {"a"}), true},
      // Not a scalar: true exactly when it has elements, whatever they are.
      {"vector of a zero", DT_FLOAT, make<float>({1}, {0}), true},
      {"empty vector", DT_FLOAT, Tensor::allocate(TF_FLOAT, {0}), false},
      {"empty matrix", DT_FLOAT, empty_2d, false},
  };
  for (const Case& c : cases) {
    graph_def_.clear_node();
    add(placeholder("pred", c.dtype, {}));
    graph_def_.mutable_node(0)->mutable_attr()->erase("shape");
    add(placeholder("x", DT_FLOAT, {}));
    add(node("if", "StatelessIf", {"pred", "x"},
             {{"Tcond", T(c.dtype)}, {"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})},
              {"then_branch", func_attr("then_fn")}, {"else_branch", func_attr("else_fn")}}));
    ASSERT_TRUE(load().is_ok());
    std::vector<Tensor> out;
    const Status s = run({{"pred", c.pred}, {"x", scalar<float>(1)}}, {"if"}, &out);
    ASSERT_TRUE(s.is_ok()) << c.name << ": " << s.message();
    EXPECT_EQ(values<float>(out[0])[0], c.taken ? 2.0f : 11.0f) << c.name;
  }
  // A scalar of a type without a truth value is refused.
  graph_def_.clear_node();
  add(placeholder("pred", tensorflow::DT_UINT16, {}));
  add(placeholder("x", DT_FLOAT, {}));
  add(node("if", "If", {"pred", "x"},
           {{"Tcond", T(tensorflow::DT_UINT16)}, {"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})},
            {"then_branch", func_attr("then_fn")}, {"else_branch", func_attr("else_fn")}}));
  ASSERT_TRUE(load().is_ok());
  std::vector<Tensor> out;
  const Status s = run({{"pred", scalar<uint16_t>(1)}, {"x", scalar<float>(1)}}, {"if"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("uint16 cannot be converted to a boolean"), std::string::npos) << s.message();
}

TEST_F(ControlFlowTest, CaseRunsTheIndexedBranchAndTheLastOneOutOfRange) {
  add_branches();
  add(function("neg_fn", {{"x", DT_FLOAT}}, {{"identity", DT_FLOAT}},
               {node("n", "Neg", {"x"}, {{"T", T(DT_FLOAT)}})}, {{"identity", "n:y:0"}}));
  add(placeholder("i", DT_INT32, {-1}));
  graph_def_.mutable_node(0)->mutable_attr()->erase("shape");
  add(placeholder("x", DT_FLOAT, {}));
  tensorflow::AttrValue branches;
  for (const char* f : {"then_fn", "else_fn", "neg_fn"}) branches.mutable_list()->add_func()->set_name(f);
  add(node("case", "Case", {"i", "x"},
           {{"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})}, {"branches", branches}}));
  ASSERT_TRUE(load().is_ok());
  const struct {
    int32_t index;
    float want;
  } cases[] = {{0, 6}, {1, 13}, {2, -3}, {3, -3}, {-1, -3}, {1000, -3}};
  for (const auto& c : cases) {
    std::vector<Tensor> out;
    const Status s = run({{"i", scalar<int32_t>(c.index)}, {"x", scalar<float>(3)}}, {"case"}, &out);
    ASSERT_TRUE(s.is_ok()) << c.index << ": " << s.message();
    EXPECT_EQ(values<float>(out[0])[0], c.want) << "index " << c.index;
  }
  std::vector<Tensor> out;
  const Status s = run({{"i", make<int32_t>({1}, {0})}, {"x", scalar<float>(3)}}, {"case"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("branch_index must be scalar"), std::string::npos) << s.message();
}

TEST_F(ControlFlowTest, BranchesMustMatchTheNodesTypesAndExist) {
  add_branches();
  add(placeholder("pred", DT_BOOL, {}));
  add(placeholder("x", DT_FLOAT, {}));
  add(node("wrong_out", "If", {"pred", "x"},
           {{"Tcond", T(DT_BOOL)}, {"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_INT32})},
            {"then_branch", func_attr("then_fn")}, {"else_branch", func_attr("else_fn")}}));
  add(node("missing", "If", {"pred", "x"},
           {{"Tcond", T(DT_BOOL)}, {"Tin", types_attr({DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})},
            {"then_branch", func_attr("then_fn")}, {"else_branch", func_attr("no_such_fn")}}));
  ASSERT_TRUE(load().is_ok());
  std::vector<Tensor> out;
  Status s = run({{"pred", scalar<bool>(true)}, {"x", scalar<float>(1)}}, {"wrong_out"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("then_branch 'then_fn' returns (float)"), std::string::npos) << s.message();
  s = run({{"pred", scalar<bool>(true)}, {"x", scalar<float>(1)}}, {"missing"}, &out);
  EXPECT_EQ(s.code(), TF_NOT_FOUND);
  EXPECT_NE(s.message().find("no_such_fn"), std::string::npos) << s.message();
}

// cond(i, n, acc) = i < n; body = (i + 1, n, probe(acc) * 2).
void add_counter_loop(tensorflow::GraphDef* g) {
  *g->mutable_library()->add_function() =
      function("cond", {{"i", DT_INT32}, {"n", DT_INT32}, {"acc", DT_FLOAT}}, {{"less", DT_BOOL}},
               {node("l", "Less", {"i", "n"}, {{"T", T(DT_INT32)}})}, {{"less", "l:z:0"}});
  *g->mutable_library()->add_function() = function(
      "body", {{"i", DT_INT32}, {"n", DT_INT32}, {"acc", DT_FLOAT}},
      {{"i_next", DT_INT32}, {"n_out", DT_INT32}, {"acc_next", DT_FLOAT}},
      {const_node("one", int_proto({}, {1})), const_node("two", float_proto({}, {2})),
       node("add", "AddV2", {"i", "one:output:0"}, {{"T", T(DT_INT32)}}),
       node("p", "QtfTestProbe", {"acc"}, {{"T", T(DT_FLOAT)}}),
       node("mul", "Mul", {"p:y:0", "two:output:0"}, {{"T", T(DT_FLOAT)}})},
      {{"i_next", "add:z:0"}, {"n_out", "n"}, {"acc_next", "mul:z:0"}});
}

TEST_F(ControlFlowTest, WhileLoopsUntilTheConditionFailsAndMakesItsBodyOnce) {
  add_counter_loop(&graph_def_);
  add(placeholder("n", DT_INT32, {}));
  add(placeholder("acc", DT_FLOAT, {-1}));
  add(const_node("zero", int_proto({}, {0})));
  add(node("loop", "StatelessWhile", {"zero", "n", "acc"},
           {{"T", types_attr({DT_INT32, DT_INT32, DT_FLOAT})}, {"cond", func_attr("cond")},
            {"body", func_attr("body")}, {"parallel_iterations", [] {
               tensorflow::AttrValue v;
               v.set_i(32);
               return v;
             }()}}));
  ASSERT_TRUE(load().is_ok());
  const struct {
    int32_t n;
    float scale;
  } cases[] = {{0, 1}, {1, 2}, {5, 32}, {10, 1024}};
  for (const auto& c : cases) {
    g_runs = 0;
    g_sole.clear();
    std::vector<Tensor> out;
    const Status s = run({{"n", scalar<int32_t>(c.n)}, {"acc", make<float>({2}, {1, -3})}},
                         {"loop:0", "loop:1", "loop:2"}, &out);
    ASSERT_TRUE(s.is_ok()) << s.message();
    EXPECT_EQ(values<int32_t>(out[0])[0], c.n);
    EXPECT_EQ(values<int32_t>(out[1])[0], c.n);
    EXPECT_EQ(values<float>(out[2]), (std::vector<float>{c.scale, -3 * c.scale})) << "n = " << c.n;
    EXPECT_EQ(g_runs, c.n);
    // From the second iteration on the accumulator is the body's own value:
    // it must reach the body moved, not shared with the loop.
    for (size_t k = 1; k < g_sole.size(); ++k) EXPECT_TRUE(g_sole[k]) << "iteration " << k;
  }
  EXPECT_EQ(g_made, 1) << "the loop body's kernels are made once";
}

TEST_F(ControlFlowTest, LoopVariablesMayChangeShapeWhereOutputShapesAllow) {
  // body(i, x) = (i + 1, concat(x, x)) while i < 2: the vector doubles twice.
  add(function("grow_cond", {{"i", DT_INT32}, {"x", DT_FLOAT}}, {{"go", DT_BOOL}},
               {const_node("limit", int_proto({}, {2})),
                node("l", "Less", {"i", "limit:output:0"}, {{"T", T(DT_INT32)}})},
               {{"go", "l:z:0"}}));
  tensorflow::AttrValue two;
  two.set_i(2);
  add(function("grow_body", {{"i", DT_INT32}, {"x", DT_FLOAT}}, {{"i_next", DT_INT32}, {"y", DT_FLOAT}},
               {const_node("axis", int_proto({}, {0})), const_node("one", int_proto({}, {1})),
                node("add", "AddV2", {"i", "one:output:0"}, {{"T", T(DT_INT32)}}),
                node("c", "ConcatV2", {"x", "x", "axis:output:0"},
                     {{"T", T(DT_FLOAT)}, {"N", two}, {"Tidx", T(DT_INT32)}})},
               {{"i_next", "add:z:0"}, {"y", "c:output:0"}}));
  add(placeholder("x", DT_FLOAT, {-1}));
  add(const_node("zero", int_proto({}, {0})));
  for (const auto& [name, dims] : {std::pair<const char*, std::vector<int64_t>>{"free", {-1}}, {"fixed", {3}}}) {
    add(node(name, "While", {"zero", "x"},
             {{"T", types_attr({DT_INT32, DT_FLOAT})}, {"cond", func_attr("grow_cond")},
              {"body", func_attr("grow_body")}, {"output_shapes", shapes_attr({{}, dims})}}));
  }
  ASSERT_TRUE(load().is_ok());
  std::vector<Tensor> out;
  Status s = run({{"x", make<float>({3}, {1, 2, 3})}}, {"free:1"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(out[0].shape(), (Shape{12}));
  EXPECT_EQ(values<float>(out[0]), (std::vector<float>{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
  s = run({{"x", make<float>({3}, {1, 2, 3})}}, {"fixed:1"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("has shape [6], which output_shapes does not allow: [3]"), std::string::npos)
      << s.message();
}

TEST_F(ControlFlowTest, WhileCarriesATensorListThatItsBodyFillsInPlace) {
  // for i in range(n): list[i] = float(i * i); then stack the list.
  add(function("cond", {{"i", DT_INT32}, {"n", DT_INT32}, {"list", DT_VARIANT}}, {{"less", DT_BOOL}},
               {node("l", "Less", {"i", "n"}, {{"T", T(DT_INT32)}})}, {{"less", "l:z:0"}}));
  add(function("body", {{"i", DT_INT32}, {"n", DT_INT32}, {"list", DT_VARIANT}},
               {{"i_next", DT_INT32}, {"n_out", DT_INT32}, {"list_next", DT_VARIANT}},
               {const_node("one", int_proto({}, {1})),
                node("sq", "Mul", {"i", "i"}, {{"T", T(DT_INT32)}}),
                node("f", "Cast", {"sq:z:0"}, {{"SrcT", T(DT_INT32)}, {"DstT", T(DT_FLOAT)}}),
                node("probe", "QtfTestProbe", {"list"}, {{"T", T(DT_VARIANT)}}),
                node("set", "TensorListSetItem", {"probe:y:0", "i", "f:y:0"}, {{"element_dtype", T(DT_FLOAT)}}),
                node("add", "AddV2", {"i", "one:output:0"}, {{"T", T(DT_INT32)}})},
               {{"i_next", "add:z:0"}, {"n_out", "n"}, {"list_next", "set:output_handle:0"}}));
  add(placeholder("n", DT_INT32, {}));
  add(const_node("zero", int_proto({}, {0})));
  add(const_node("scalar_shape", int_proto({0}, {})));
  add(node("reserve", "TensorListReserve", {"scalar_shape", "n"},
           {{"element_dtype", T(DT_FLOAT)}, {"shape_type", T(DT_INT32)}}));
  add(node("loop", "StatelessWhile", {"zero", "n", "reserve"},
           {{"T", types_attr({DT_INT32, DT_INT32, DT_VARIANT})}, {"cond", func_attr("cond")},
            {"body", func_attr("body")}}));
  add(const_node("unknown", int_proto({}, {-1})));
  add(node("stack", "TensorListStack", {"loop:2", "unknown"}, {{"element_dtype", T(DT_FLOAT)}}));
  ASSERT_TRUE(load().is_ok());
  std::vector<Tensor> out;
  const Status s = run({{"n", scalar<int32_t>(5)}}, {"stack"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(out[0].shape(), (Shape{5}));
  EXPECT_EQ(values<float>(out[0]), (std::vector<float>{0, 1, 4, 9, 16}));
  ASSERT_EQ(g_sole.size(), 5u);
  for (size_t k = 0; k < g_sole.size(); ++k) EXPECT_TRUE(g_sole[k]) << "the list was shared in iteration " << k;
}

TEST_F(ControlFlowTest, AssertInsideABranchFailsTheRunWithTheSummarisedData) {
  // checked(ok, x) asserts ok before returning x, as tf.debugging does inside tf.cond.
  tensorflow::AttrValue summarize;
  summarize.set_i(3);
  add(function("checked", {{"ok", DT_BOOL}, {"x", DT_FLOAT}}, {{"identity", DT_FLOAT}},
               {const_node("msg", string_proto({"x must be positive"})),
                node("assert", "Assert", {"ok", "msg:output:0", "x"},
                     {{"T", types_attr({tensorflow::DT_STRING, DT_FLOAT})}, {"summarize", summarize}}),
                node("out", "Identity", {"x", "^assert"}, {{"T", T(DT_FLOAT)}})},
               {{"identity", "out:output:0"}}, {{"assert", "assert"}}));
  add(function("plain", {{"ok", DT_BOOL}, {"x", DT_FLOAT}}, {{"identity", DT_FLOAT}}, {}, {{"identity", "x"}}));
  add(placeholder("pred", DT_BOOL, {}));
  add(placeholder("ok", DT_BOOL, {}));
  add(placeholder("x", DT_FLOAT, {-1}));
  add(node("if", "If", {"pred", "ok", "x"},
           {{"Tcond", T(DT_BOOL)}, {"Tin", types_attr({DT_BOOL, DT_FLOAT})}, {"Tout", types_attr({DT_FLOAT})},
            {"then_branch", func_attr("checked")}, {"else_branch", func_attr("plain")}}));
  const Status loaded = load();
  ASSERT_TRUE(loaded.is_ok()) << loaded.message();
  const Tensor x = make<float>({5}, {1, -2, 3.5f, 4, 5});
  std::vector<Tensor> out;
  Status s = run({{"pred", scalar<bool>(true)}, {"ok", scalar<bool>(true)}, {"x", x}}, {"if"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(values<float>(out[0]).size(), 5u);
  s = run({{"pred", scalar<bool>(true)}, {"ok", scalar<bool>(false)}, {"x", x}}, {"if"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("assertion failed: [x must be positive] [1 -2 3.5...]"), std::string::npos)
      << s.message();
  // The other branch holds no assertion.
  s = run({{"pred", scalar<bool>(false)}, {"ok", scalar<bool>(false)}, {"x", x}}, {"if"}, &out);
  EXPECT_TRUE(s.is_ok()) << s.message();
}

TEST_F(ControlFlowTest, GradientAndShapeOpsPassValuesThroughOrCheckThem) {
  add(placeholder("x", DT_FLOAT, {-1, -1}));
  for (const char* op : {"StopGradient", "PreventGradient", "Snapshot"}) add(node(op, op, {"x"}, {{"T", T(DT_FLOAT)}}));
  add(node("ensure", "EnsureShape", {"x"}, {{"T", T(DT_FLOAT)}, {"shape", shape_attr({-1, 2})}}));
  ASSERT_TRUE(load().is_ok());
  std::vector<Tensor> out;
  Status s = run({{"x", make<float>({1, 2}, {4, 5})}}, {"StopGradient", "PreventGradient", "Snapshot", "ensure"}, &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  for (const Tensor& t : out) EXPECT_EQ(values<float>(t), (std::vector<float>{4, 5}));
  s = run({{"x", make<float>({2, 1}, {4, 5})}}, {"ensure"}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("Shape of tensor [2,1] is not compatible with expected shape [?,2]"),
            std::string::npos)
      << s.message();
}

}  // namespace
}  // namespace qtf
