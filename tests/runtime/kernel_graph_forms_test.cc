// The new op families as TensorFlow exports them: inside a function body,
// with default attrs stripped (filled from the registered op definitions)
// and outputs named by argument ("topk:indices:0", "c:out:0", "s:sum:0").
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "exec/session.h"
#include "graph_test_util.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT: builders keep the graphs readable
using tensorflow::DT_FLOAT;
using tensorflow::DT_INT32;

tensorflow::TensorProto int_proto(std::initializer_list<int64_t> dims, std::initializer_list<int32_t> values) {
  tensorflow::TensorProto p;
  p.set_dtype(DT_INT32);
  for (int64_t d : dims) p.mutable_tensor_shape()->add_dim()->set_size(d);
  for (int32_t v : values) p.add_int_val(v);
  return p;
}

class GraphFormsTest : public ::testing::Test {
 protected:
  // Loads the graph and runs `fetch` with x fed.
  Status run(const std::vector<float>& x, const std::string& fetch, std::vector<Tensor>* out) {
    auto graph = std::make_shared<Graph>();
    QTF_RETURN_IF_ERROR(graph->init(graph_def_, tensorflow::OpList()));
    session_ = std::make_unique<Session>(graph);
    ValueRef feed, result;
    QTF_RETURN_IF_ERROR(session_->parse_tensor_name("x", &feed));
    QTF_RETURN_IF_ERROR(session_->parse_tensor_name(fetch, &result));
    Tensor t = Tensor::allocate(TF_FLOAT, {static_cast<int64_t>(x.size())});
    for (size_t i = 0; i < x.size(); ++i) t.data<float>()[i] = x[i];
    return session_->run({feed}, {t}, {result}, {}, out);
  }

  void add(tensorflow::NodeDef n) { *graph_def_.add_node() = std::move(n); }
  void add(tensorflow::FunctionDef f) { *graph_def_.mutable_library()->add_function() = std::move(f); }

  tensorflow::GraphDef graph_def_;
  std::unique_ptr<Session> session_;
};

TEST_F(GraphFormsTest, TopKIndicesFeedAGatherAndACumsum) {
  // f(x) = (cumsum(gather(x, top_k(x, 3).indices)), top_k(x, 3).indices)
  add(function("f", {{"x", DT_FLOAT}}, {{"y", DT_FLOAT}, {"idx", DT_INT32}},
               {const_node("k", int_proto({}, {3})),
                const_node("zero", int_proto({}, {0})),
                node("topk", "TopKV2", {"x", "k:output:0"}, {{"T", type_attr(DT_FLOAT)}}),
                node("g", "GatherV2", {"x", "topk:indices:0", "zero:output:0"},
                     {{"Tparams", type_attr(DT_FLOAT)}, {"Tindices", type_attr(DT_INT32)},
                      {"Taxis", type_attr(DT_INT32)}}),
                node("c", "Cumsum", {"g:output:0", "zero:output:0"}, {{"T", type_attr(DT_FLOAT)}})},
               {{"y", "c:out:0"}, {"idx", "topk:indices:0"}}));
  add(placeholder("x", DT_FLOAT, {-1}));
  add(call("call", "f", {"x"}, {DT_FLOAT}, {DT_FLOAT, DT_INT32}));
  std::vector<Tensor> out;
  Status s = run({3, 1, 4, 1, 5}, "call:0", &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(std::vector<float>(out[0].data<float>(), out[0].data<float>() + 3), (std::vector<float>{5, 9, 12}));
  s = run({3, 1, 4, 1, 5}, "call:1", &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(std::vector<int32_t>(out[0].data<int32_t>(), out[0].data<int32_t>() + 3), (std::vector<int32_t>{4, 2, 0}));
  // k above the row length fails the run, naming the node.
  s = run({3, 1}, "call:0", &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("topk"), std::string::npos) << s.message();
}

TEST_F(GraphFormsTest, ExactGeluThroughErfAndAddN) {
  // gelu(x) = 0.5 * x * (1 + erf(x / sqrt(2))), the "1 +" written as AddN.
  add(function("gelu", {{"x", DT_FLOAT}}, {{"y", DT_FLOAT}},
               {const_node("inv_sqrt2", float_proto({}, {0.70710678f})),
                const_node("one", float_proto({}, {1.0f})),
                const_node("half", float_proto({}, {0.5f})),
                node("scaled", "Mul", {"x", "inv_sqrt2:output:0"}, {{"T", type_attr(DT_FLOAT)}}),
                node("erf", "Erf", {"scaled:z:0"}, {{"T", type_attr(DT_FLOAT)}}),
                node("ones", "OnesLike", {"erf:y:0"}, {{"T", type_attr(DT_FLOAT)}}),
                node("s", "AddN", {"erf:y:0", "ones:y:0"},
                     {{"T", type_attr(DT_FLOAT)}, {"N", [] { tensorflow::AttrValue v; v.set_i(2); return v; }()}}),
                node("hx", "Mul", {"x", "half:output:0"}, {{"T", type_attr(DT_FLOAT)}}),
                node("y", "Mul", {"hx:z:0", "s:sum:0"}, {{"T", type_attr(DT_FLOAT)}})},
               {{"y", "y:z:0"}}));
  add(placeholder("x", DT_FLOAT, {-1}));
  add(call("call", "gelu", {"x"}, {DT_FLOAT}, {DT_FLOAT}));
  std::vector<Tensor> out;
  const std::vector<float> x = {-2.f, -0.5f, 0.f, 1.f, 3.f};
  Status s = run(x, "call:0", &out);
  ASSERT_TRUE(s.is_ok()) << s.message();
  for (size_t i = 0; i < x.size(); ++i) {
    const double v = x[i];
    EXPECT_NEAR(out[0].data<float>()[i], 0.5 * v * (1 + std::erf(v / std::sqrt(2.0))), 1e-6) << v;
  }
}

}  // namespace
}  // namespace qtf
