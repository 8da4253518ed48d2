// Convolution fusion: the plan pass that folds BiasAdd / Add(constant) and
// activations into _FusedConv2D / _FusedDepthwiseConv2dNative, and those
// kernels themselves. Fused results are checked against the same graph run
// unfused (intermediate value also fetched), i.e. against the separate
// BiasAdd / Add / activation kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "exec/function_runtime.h"
#include "exec/plan.h"
#include "exec/session.h"
#include "graph_test_util.h"
#include "kernel_testing.h"

namespace qtf {
namespace {

namespace t = qtf::testing;
using tensorflow::DT_FLOAT;

constexpr int kH = 5, kW = 6, kC = 3, kOut = 4;

std::vector<float> ramp(size_t n, float scale, float offset) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = scale * static_cast<float>(static_cast<int>(i * 7 % 23) - 11) + offset;
  return v;
}

tensorflow::TensorProto float_tensor(const std::vector<int64_t>& dims, const std::vector<float>& values) {
  tensorflow::TensorProto p;
  p.set_dtype(DT_FLOAT);
  for (int64_t d : dims) p.mutable_tensor_shape()->add_dim()->set_size(d);
  for (float v : values) p.add_float_val(v);
  return p;
}

// Graph: x (placeholder) -> conv -> [bias stage] -> [activation], with the
// filter and bias as constants. Node names: x, filter, conv, b, biased, act.
struct ChainGraph {
  std::string conv_op = "Conv2D";
  std::string bias_op;                     // "", "BiasAdd", "Add", "AddV2"
  std::vector<int64_t> bias_dims{kOut};    // shape of the bias constant
  bool bias_first = false;                 // Add(b, conv) instead of Add(conv, b)
  std::string activation;                  // "", "Relu", ...
  float alpha = 0.3f;                      // LeakyRelu
  std::vector<std::string> extra_nodes;    // names of extra readers of "conv" / "biased"

  int out_channels() const { return conv_op == "Conv2D" ? kOut : kC * 2; }
  std::string last() const { return !activation.empty() ? "act" : !bias_op.empty() ? "biased" : "conv"; }

  tensorflow::GraphDef build() const {
    using t::node;
    tensorflow::GraphDef g;
    *g.add_node() = t::placeholder("x", DT_FLOAT, {1, kH, kW, kC});
    const bool depthwise = conv_op == "DepthwiseConv2dNative";
    const std::vector<int64_t> fdims = depthwise ? std::vector<int64_t>{3, 3, kC, 2}
                                                 : std::vector<int64_t>{3, 3, kC, kOut};
    *g.add_node() = t::const_node("filter", float_tensor(fdims, ramp(static_cast<size_t>(9 * kC * fdims[3]), 0.05f, 0.01f)));
    *g.add_node() = node("conv", conv_op, {"x", "filter"},
                         {{"T", t::type_attr(DT_FLOAT)}, {"strides", t::int_list({1, 1, 1, 1})},
                          {"padding", t::string_attr("SAME")}});
    std::string prev = "conv";
    if (!bias_op.empty()) {
      int64_t n = 1;
      for (int64_t d : bias_dims) n *= d;
      *g.add_node() = t::const_node("b", float_tensor(bias_dims, ramp(static_cast<size_t>(n), 0.1f, 0.05f)));
      std::vector<std::string> in = bias_first ? std::vector<std::string>{"b", "conv"}
                                               : std::vector<std::string>{"conv", "b"};
      *g.add_node() = node("biased", bias_op, in, {{"T", t::type_attr(DT_FLOAT)}});
      prev = "biased";
    }
    if (!activation.empty()) {
      t::Attrs attrs{{"T", t::type_attr(DT_FLOAT)}};
      if (activation == "LeakyRelu") {
        tensorflow::AttrValue a;
        a.set_f(alpha);
        attrs.emplace_back("alpha", a);
      }
      *g.add_node() = node("act", activation, {prev}, attrs);
    }
    for (const std::string& extra : extra_nodes) {
      *g.add_node() = node(extra + "_reader", "Neg", {extra}, {{"T", t::type_attr(DT_FLOAT)}});
    }
    return g;
  }
};

class FusionTest : public ::testing::Test {
 protected:
  void load(const tensorflow::GraphDef& g) {
    graph_ = std::make_shared<Graph>();
    const Status s = graph_->init(g, tensorflow::OpList());
    ASSERT_TRUE(s.is_ok()) << s.message();
    session_ = std::make_unique<Session>(graph_);
  }

  ValueRef ref(const std::string& name) {
    ValueRef r;
    EXPECT_TRUE(session_->parse_tensor_name(name, &r).is_ok()) << name;
    return r;
  }

  std::vector<ValueRef> refs(const std::vector<std::string>& names) {
    std::vector<ValueRef> out;
    for (const auto& n : names) out.push_back(ref(n));
    return out;
  }

  // The plan the outer graph gets for feeding x and fetching `fetches`.
  std::unique_ptr<Plan> plan(const std::vector<std::string>& fetches, const std::vector<std::string>& targets = {}) {
    std::unique_ptr<Body> body;
    EXPECT_TRUE(Body::from_graph(*graph_, &body).is_ok());
    runtime_ = std::make_unique<FunctionRuntime>(*graph_);
    instance_ = std::make_unique<BodyInstance>(std::move(body), runtime_.get());
    std::vector<int> target_nodes;
    for (const auto& n : targets) target_nodes.push_back(ref(n).node);
    std::unique_ptr<Plan> p;
    const Status s = instance_->make_plan(refs({"x"}), refs(fetches), target_nodes, &p);
    EXPECT_TRUE(s.is_ok()) << s.message();
    return p;
  }

  bool runs_node(const Plan& p, const std::string& name) const {
    for (const Step& step : p.steps) {
      if (p.body->node(step.node).name == name) return true;
    }
    return false;
  }

  std::vector<Tensor> run(const std::vector<std::string>& fetches, const std::vector<std::string>& targets = {}) {
    std::vector<Tensor> out;
    std::vector<int> target_nodes;
    for (const auto& n : targets) target_nodes.push_back(ref(n).node);
    Tensor x = t::make<float>({1, kH, kW, kC}, ramp(static_cast<size_t>(kH * kW * kC), 0.2f, 0.1f));
    const Status s = session_->run(refs({"x"}), {x}, refs(fetches), target_nodes, &out);
    EXPECT_TRUE(s.is_ok()) << s.message();
    return out;
  }

  std::shared_ptr<Graph> graph_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<FunctionRuntime> runtime_;
  std::unique_ptr<BodyInstance> instance_;
};

void expect_near_all(const Tensor& a, const Tensor& b) {
  ASSERT_EQ(a.shape(), b.shape());
  const std::vector<float> va = t::values<float>(a), vb = t::values<float>(b);
  for (size_t i = 0; i < va.size(); ++i) ASSERT_NEAR(va[i], vb[i], 1e-5f) << "element " << i;
}

struct FusableCase {
  const char* label;
  std::string conv_op, bias_op;
  std::vector<int64_t> bias_dims;
  bool bias_first;
  std::string activation;
};

class FusableChain : public FusionTest, public ::testing::WithParamInterface<FusableCase> {};

TEST_P(FusableChain, FusesIntoOneStepWithUnfusedNumbers) {
  const FusableCase& c = GetParam();
  ChainGraph g;
  g.conv_op = c.conv_op;
  g.bias_op = c.bias_op;
  g.bias_dims = c.bias_dims;
  g.bias_first = c.bias_first;
  g.activation = c.activation;
  load(g.build());

  const auto fused_plan = plan({g.last()});
  ASSERT_TRUE(fused_plan);
  EXPECT_EQ(fused_plan->fused_kernels.size(), 1u);
  EXPECT_FALSE(runs_node(*fused_plan, "conv"));
  EXPECT_TRUE(runs_node(*fused_plan, g.last()));

  // Fetching the convolution's output as well keeps every op separate.
  const auto plain_plan = plan({g.last(), "conv"});
  ASSERT_TRUE(plain_plan);
  EXPECT_TRUE(plain_plan->fused_kernels.empty());
  EXPECT_TRUE(runs_node(*plain_plan, "conv"));

  const std::vector<Tensor> fused = run({g.last()});
  const std::vector<Tensor> plain = run({g.last(), "conv"});
  ASSERT_EQ(fused.size(), 1u);
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(fused[0].shape(), (Shape{1, kH, kW, g.out_channels()}));
  expect_near_all(fused[0], plain[0]);
  // A second run reuses the fused kernel's primitive and gives the same values.
  expect_near_all(run({g.last()})[0], fused[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, FusableChain,
    ::testing::Values(
        FusableCase{"BiasAddRelu", "Conv2D", "BiasAdd", {kOut}, false, "Relu"},
        FusableCase{"BiasAddOnly", "Conv2D", "BiasAdd", {kOut}, false, ""},
        FusableCase{"ReluOnly", "Conv2D", "", {}, false, "Relu"},
        FusableCase{"BiasAddRelu6", "Conv2D", "BiasAdd", {kOut}, false, "Relu6"},
        FusableCase{"BiasAddLeakyRelu", "Conv2D", "BiasAdd", {kOut}, false, "LeakyRelu"},
        FusableCase{"BiasAddElu", "Conv2D", "BiasAdd", {kOut}, false, "Elu"},
        FusableCase{"BiasAddSigmoid", "Conv2D", "BiasAdd", {kOut}, false, "Sigmoid"},
        FusableCase{"BiasAddTanh", "Conv2D", "BiasAdd", {kOut}, false, "Tanh"},
        FusableCase{"AddChannelConstRelu", "Conv2D", "Add", {1, 1, 1, kOut}, false, "Relu"},
        FusableCase{"AddV2ConstFirst", "Conv2D", "AddV2", {kOut}, true, ""},
        FusableCase{"AddScalarConst", "Conv2D", "AddV2", {}, false, "Relu6"},
        FusableCase{"DepthwiseBiasAddRelu6", "DepthwiseConv2dNative", "BiasAdd", {kC * 2}, false, "Relu6"}),
    [](const ::testing::TestParamInfo<FusableCase>& c) { return std::string(c.param.label); });

TEST_F(FusionTest, FetchedBiasAddOutputStopsTheChainBeforeTheActivation) {
  ChainGraph g;
  g.bias_op = "BiasAdd";
  g.activation = "Relu";
  load(g.build());
  // conv + BiasAdd still fuse; the Relu reads the fetched BiasAdd value.
  const auto p = plan({"act", "biased"});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->fused_kernels.size(), 1u);
  EXPECT_TRUE(runs_node(*p, "biased"));
  EXPECT_TRUE(runs_node(*p, "act"));
  EXPECT_FALSE(runs_node(*p, "conv"));
  const std::vector<Tensor> out = run({"act", "biased"});
  ASSERT_EQ(out.size(), 2u);
  const std::vector<float> act = t::values<float>(out[0]), biased = t::values<float>(out[1]);
  bool any_negative = false;
  for (size_t i = 0; i < act.size(); ++i) {
    EXPECT_FLOAT_EQ(act[i], std::max(biased[i], 0.f));
    any_negative = any_negative || biased[i] < 0.f;
  }
  EXPECT_TRUE(any_negative) << "the test input should exercise the Relu";
}

TEST_F(FusionTest, SecondReaderOfTheConvolutionPreventsFusion) {
  ChainGraph g;
  g.bias_op = "BiasAdd";
  g.activation = "Relu";
  g.extra_nodes = {"conv"};
  load(g.build());
  const auto p = plan({"act", "conv_reader"});
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->fused_kernels.empty());
  EXPECT_TRUE(runs_node(*p, "conv"));
}

TEST_F(FusionTest, SecondReaderOfTheBiasAddKeepsTheActivationSeparate) {
  ChainGraph g;
  g.bias_op = "BiasAdd";
  g.activation = "Relu";
  g.extra_nodes = {"biased"};
  load(g.build());
  const auto p = plan({"act", "biased_reader"});
  ASSERT_TRUE(p);
  EXPECT_EQ(p->fused_kernels.size(), 1u);
  EXPECT_TRUE(runs_node(*p, "biased"));
  EXPECT_TRUE(runs_node(*p, "act"));
  const std::vector<Tensor> out = run({"act", "biased_reader"});
  const std::vector<float> act = t::values<float>(out[0]), neg = t::values<float>(out[1]);
  for (size_t i = 0; i < act.size(); ++i) EXPECT_FLOAT_EQ(act[i], std::max(-neg[i], 0.f));
}

TEST_F(FusionTest, ControlDependencyKeepsTheControllingNodeAsAStep) {
  struct Case {
    const char* control;      // node the NoOp waits for
    bool conv_runs, biased_runs;
    size_t fused;
  };
  // A node that others wait for may end a chain (the fused step runs as
  // that node) but never disappear inside one.
  const Case cases[] = {{"conv", true, true, 0}, {"biased", false, true, 1}, {"act", false, false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    ChainGraph g;
    g.bias_op = "BiasAdd";
    g.activation = "Relu";
    tensorflow::GraphDef def = g.build();
    *def.add_node() = t::node("waiter", "NoOp", {std::string("^") + c.control});
    load(def);
    const auto p = plan({"act"}, {"waiter"});
    ASSERT_TRUE(p);
    EXPECT_EQ(runs_node(*p, "conv"), c.conv_runs);
    EXPECT_EQ(runs_node(*p, "biased"), c.biased_runs);
    EXPECT_TRUE(runs_node(*p, "act"));
    EXPECT_EQ(p->fused_kernels.size(), c.fused);
    bool waiter_after_control = false, control_seen = false;
    for (const Step& step : p->steps) {
      const std::string& name = p->body->node(step.node).name;
      if (name == c.control) control_seen = true;
      if (name == "waiter") waiter_after_control = control_seen;
    }
    EXPECT_TRUE(waiter_after_control);
    const std::vector<Tensor> out = run({"act"}, {"waiter"});
    ASSERT_EQ(out.size(), 1u);
  }
}

struct NotFusedCase {
  const char* label;
  std::string bias_op;
  std::vector<int64_t> bias_dims;
};

class AddNotFused : public FusionTest, public ::testing::WithParamInterface<NotFusedCase> {};

TEST_P(AddNotFused, KeepsTheAddSeparate) {
  ChainGraph g;
  g.bias_op = GetParam().bias_op;
  g.bias_dims = GetParam().bias_dims;
  load(g.build());
  const auto p = plan({"biased"});
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->fused_kernels.empty());
  EXPECT_TRUE(runs_node(*p, "conv"));
}

INSTANTIATE_TEST_SUITE_P(
    Adds, AddNotFused,
    ::testing::Values(
        // Varies along H and W: not one value per channel.
        NotFusedCase{"SpatialConstant", "Add", {1, kH, kW, kOut}},
        NotFusedCase{"BatchAxisConstant", "AddV2", {2, 1, 1, kOut}},
        // Sub is not an add.
        NotFusedCase{"Sub", "Sub", {kOut}}),
    [](const ::testing::TestParamInfo<NotFusedCase>& c) { return std::string(c.param.label); });

TEST_F(FusionTest, AddOfTwoComputedValuesIsNotFused) {
  tensorflow::GraphDef g;
  *g.add_node() = t::placeholder("x", DT_FLOAT, {1, kH, kW, kC});
  *g.add_node() = t::const_node("filter", float_tensor({1, 1, kC, kC}, ramp(kC * kC, 0.1f, 0.f)));
  *g.add_node() = t::node("conv", "Conv2D", {"x", "filter"},
                          {{"T", t::type_attr(DT_FLOAT)}, {"strides", t::int_list({1, 1, 1, 1})},
                           {"padding", t::string_attr("VALID")}});
  *g.add_node() = t::node("sum", "AddV2", {"conv", "x"}, {{"T", t::type_attr(DT_FLOAT)}});
  load(g);
  const auto p = plan({"sum"});
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->fused_kernels.empty());
}

// The fused kernels on their own.
t::Node fused_conv(std::vector<std::string> ops, int num_args) {
  t::Node n("_FusedConv2D");
  tensorflow::AttrValue list;
  list.mutable_list();
  for (const auto& op : ops) list.mutable_list()->add_s(op);
  n.attr("T", TF_FLOAT).attr("strides", {1, 1, 1, 1}).attr("padding", "VALID").attr("fused_ops", list)
      .attr("num_args", num_args);
  return n;
}

TEST(FusedConvKernel, RejectsUnsupportedFusedOps) {
  struct Case {
    std::vector<std::string> ops;
    int num_args;
    TF_Code code;
  };
  const Case cases[] = {
      {{"Relu", "BiasAdd"}, 1, TF_UNIMPLEMENTED},
      {{"BiasAdd", "Relu", "Relu"}, 1, TF_UNIMPLEMENTED},
      {{"FusedBatchNorm", "Relu"}, 4, TF_UNIMPLEMENTED},
      {{}, 0, TF_UNIMPLEMENTED},
      {{"BiasAdd"}, 0, TF_INVALID_ARGUMENT},
      {{"Relu"}, 1, TF_INVALID_ARGUMENT},
  };
  for (const Case& c : cases) {
    t::Node n = fused_conv(c.ops, c.num_args);
    const Status s = n.prepare();
    EXPECT_EQ(s.code(), c.code) << s.message();
  }
}

TEST(FusedConvKernel, BiasOfTheWrongSizeIsAnError) {
  t::Node n = fused_conv({"BiasAdd", "Relu"}, 1);
  std::vector<Tensor> out;
  const Status s = n.run({t::make<float>({1, 2, 2, 1}, {1, 2, 3, 4}), t::make<float>({1, 1, 1, 2}, {1, 1}),
                          t::make<float>({3}, {1, 2, 3})},
                         &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("bias"), std::string::npos) << s.message();
}

TEST(FusedConvKernel, ComputesBiasAndActivationPerChannel) {
  // 1x1 filter with two outputs: y0 = x, y1 = -x; bias (0.5, -1); Relu6.
  t::Node n = fused_conv({"BiasAdd", "Relu6"}, 1);
  const Tensor y = n.run1({t::make<float>({1, 1, 3, 1}, {-2.f, 3.f, 9.f}), t::make<float>({1, 1, 1, 2}, {1.f, -1.f}),
                           t::make<float>({2}, {0.5f, -1.f})});
  EXPECT_EQ(t::values<float>(y), (std::vector<float>{0.f, 1.f, 3.5f, 0.f, 6.f, 0.f}));
}

TEST(FusedConvKernel, EmptyInputGivesTheActivatedBias) {
  // VALID 3x3 on a 2x2 image has no output; on a 0-width image neither. A
  // zero-batch input still has per-channel outputs of size zero; a 1x1 filter
  // on zero input channels gives activation(bias) everywhere.
  t::Node n = fused_conv({"BiasAdd", "Relu"}, 1);
  const Tensor y = n.run1({Tensor::allocate(TF_FLOAT, {1, 1, 2, 0}), Tensor::allocate(TF_FLOAT, {1, 1, 0, 2}),
                           t::make<float>({2}, {-1.f, 2.f})});
  EXPECT_EQ(t::values<float>(y), (std::vector<float>{0.f, 2.f, 0.f, 2.f}));
}

}  // namespace
}  // namespace qtf
