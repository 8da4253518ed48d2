// Elementwise kernels: broadcasting, values, in-place reuse and errors.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel_testing.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

Tensor iota(Shape s, float start) {
  Tensor t = Tensor::allocate(TF_FLOAT, s);
  for (int64_t i = 0; i < t.num_elements(); ++i) t.data<float>()[i] = start + static_cast<float>(i);
  return t;
}

// Independent broadcasting reference: walk every output index and map it
// back into each operand by hand.
std::vector<float> reference_sub(const Tensor& x, const Tensor& y, Shape* out_shape) {
  const size_t rank = std::max(x.shape().size(), y.shape().size());
  Shape xs(rank, 1), ys(rank, 1);
  for (size_t i = 0; i < x.shape().size(); ++i) xs[rank - x.shape().size() + i] = x.shape()[i];
  for (size_t i = 0; i < y.shape().size(); ++i) ys[rank - y.shape().size() + i] = y.shape()[i];
  out_shape->assign(rank, 1);
  for (size_t d = 0; d < rank; ++d) (*out_shape)[d] = xs[d] == 1 ? ys[d] : xs[d];
  std::vector<float> out;
  const int64_t n = num_elements(*out_shape);
  for (int64_t k = 0; k < n; ++k) {
    int64_t rem = k, xi = 0, yi = 0, xm = 1, ym = 1;
    for (size_t d = rank; d-- > 0;) {
      const int64_t idx = rem % (*out_shape)[d];
      rem /= (*out_shape)[d];
      xi += (xs[d] == 1 ? 0 : idx) * xm;
      yi += (ys[d] == 1 ? 0 : idx) * ym;
      xm *= xs[d];
      ym *= ys[d];
    }
    out.push_back(x.data<float>()[xi] - y.data<float>()[yi]);
  }
  return out;
}

struct BroadcastCase { Shape x, y; };

class BroadcastTest : public ::testing::TestWithParam<BroadcastCase> {};

TEST_P(BroadcastTest, SubMatchesReference) {
  const BroadcastCase& c = GetParam();
  Tensor x = iota(c.x, 1.f);
  Tensor y = iota(c.y, 100.f);
  Shape want_shape;
  std::vector<float> want = reference_sub(x, y, &want_shape);
  Node node("Sub");
  node.attr("T", TF_FLOAT);
  Tensor z = node.run1({x, y});
  EXPECT_EQ(z.shape(), want_shape);
  EXPECT_EQ(values<float>(z), want);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BroadcastTest,
    ::testing::Values(BroadcastCase{{2, 3}, {2, 3}}, BroadcastCase{{2, 3}, {3}},
                      BroadcastCase{{2, 3}, {}}, BroadcastCase{{}, {2, 3}},
                      BroadcastCase{{2, 1, 3}, {4, 1}}, BroadcastCase{{4, 1}, {2, 1, 3}},
                      BroadcastCase{{1, 5, 1, 3}, {5, 2, 1}}, BroadcastCase{{3, 1}, {1, 3}},
                      BroadcastCase{{1, 1}, {1}}, BroadcastCase{{2, 3, 4, 5}, {1, 3, 1, 5}},
                      BroadcastCase{{2, 3, 4}, {2, 1, 4}}, BroadcastCase{{0, 3}, {1, 3}},
                      BroadcastCase{{1, 4, 4, 8}, {8}}));

TEST(BinaryKernelTest, IncompatibleShapesNameTheNode) {
  Node node("AddV2");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  Status s = node.run({iota({2, 3}, 0), iota({4}, 0)}, &out);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("AddV2 node 'test/AddV2'"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("[2,3]"), std::string::npos);
}

TEST(BinaryKernelTest, MismatchedDtypeIsInvalidArgument) {
  Node node("Mul");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({iota({2}, 0), make<int32_t>({2}, {1, 2})}, &out).code(), TF_INVALID_ARGUMENT);
}

TEST(BinaryKernelTest, IntegerRealDivIsRefusedAtPrepare) {
  Node node("RealDiv");
  node.attr("T", TF_INT32);
  EXPECT_EQ(node.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(BinaryKernelTest, ValuesOfEachOp) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case { const char* op; std::vector<float> want; };
  const std::vector<float> xv = {1, -2, 3, nan};
  const std::vector<float> yv = {2, 2, -4, 1};
  const Case cases[] = {
      {"Add", {3, 0, -1, nan}},      {"AddV2", {3, 0, -1, nan}},
      {"Sub", {-1, -4, 7, nan}},     {"Mul", {2, -4, -12, nan}},
      {"RealDiv", {0.5f, -1, -0.75f, nan}}, {"Maximum", {2, 2, 3, nan}},
      {"Minimum", {1, -2, -4, nan}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_FLOAT);
    std::vector<float> got = values<float>(node.run1({make<float>({4}, xv), make<float>({4}, yv)}));
    ASSERT_EQ(got.size(), 4u) << c.op;
    for (size_t i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(got[i], c.want[i]) << c.op << " " << i;
    EXPECT_TRUE(std::isnan(got[3])) << c.op;
  }
}

TEST(BinaryKernelTest, IntegerArithmetic) {
  Node node("AddV2");
  node.attr("T", TF_INT64);
  Tensor z = node.run1({make<int64_t>({3}, {1, 2, 3}), scalar<int64_t>(10)});
  EXPECT_EQ(values<int64_t>(z), (std::vector<int64_t>{11, 12, 13}));
  Node mx("Maximum");
  mx.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(mx.run1({make<int32_t>({3}, {-1, 5, 2}), scalar<int32_t>(2)})),
            (std::vector<int32_t>{2, 5, 2}));
}

TEST(BinaryKernelTest, WritesInPlaceOnlyIntoUnsharedInput) {
  Node node("Mul");
  node.attr("T", TF_FLOAT);
  // Shared input: the caller still holds x, so it must stay untouched.
  Tensor x = iota({4}, 1);
  Tensor z = node.run1({x, scalar(2.f)});
  EXPECT_NE(z.raw(), x.raw());
  EXPECT_EQ(values<float>(x), (std::vector<float>{1, 2, 3, 4}));
  EXPECT_EQ(values<float>(z), (std::vector<float>{2, 4, 6, 8}));
  // Unshared input of the output's shape: its buffer becomes the output.
  // (Built with emplace_back: an initializer list would copy the tensor.)
  std::vector<Tensor> inputs;
  inputs.emplace_back(iota({4}, 1));
  inputs.emplace_back(scalar(3.f));
  const void* buffer = inputs[0].raw();
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run(std::move(inputs), &out).is_ok());
  EXPECT_EQ(out[0].raw(), buffer);
  EXPECT_EQ(values<float>(out[0]), (std::vector<float>{3, 6, 9, 12}));
  // Broadcast output larger than x: a fresh buffer.
  inputs.clear();
  inputs.emplace_back(scalar(2.f));
  inputs.emplace_back(iota({3}, 0));
  const void* small_buffer = inputs[0].raw();
  ASSERT_TRUE(node.run(std::move(inputs), &out).is_ok());
  EXPECT_NE(out[0].raw(), small_buffer);
  EXPECT_EQ(values<float>(out[0]), (std::vector<float>{0, 2, 4}));
}

TEST(UnaryKernelTest, ValuesOfEachOp) {
  struct Case { const char* op; std::vector<float> want; };
  const std::vector<float> xv = {-7, -0.5f, 0, 2, 8};
  const Case cases[] = {
      {"Neg", {7, 0.5f, 0, -2, -8}},
      {"Relu", {0, 0, 0, 2, 8}},
      {"Relu6", {0, 0, 0, 2, 6}},
      {"Sigmoid", {1 / (1 + std::exp(7.f)), 1 / (1 + std::exp(0.5f)), 0.5f,
                   1 / (1 + std::exp(-2.f)), 1 / (1 + std::exp(-8.f))}},
      {"Tanh", {std::tanh(-7.f), std::tanh(-0.5f), 0, std::tanh(2.f), std::tanh(8.f)}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_FLOAT);
    Tensor y = node.run1({make<float>({5}, xv)});
    EXPECT_EQ(y.shape(), (Shape{5}));
    std::vector<float> got = values<float>(y);
    ASSERT_EQ(got.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(got[i], c.want[i], 1e-6) << c.op << " " << i;
  }
}

TEST(UnaryKernelTest, FloatOnlyOpsRefuseIntegers) {
  for (const char* op : {"Sigmoid", "Tanh"}) {
    Node node(op);
    node.attr("T", TF_INT32);
    EXPECT_EQ(node.prepare().code(), TF_UNIMPLEMENTED) << op;
  }
  Node relu("Relu");
  relu.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(relu.run1({make<int32_t>({2}, {-3, 3})})),
            (std::vector<int32_t>{0, 3}));
}

TEST(UnaryKernelTest, WrongInputTypeIsInvalidArgument) {
  Node node("Relu");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({make<int32_t>({1}, {1})}, &out).code(), TF_INVALID_ARGUMENT);
}

TEST(CastTest, RealToIntegerTruncatesAndSaturates) {
  Node node("Cast");
  node.attr("SrcT", TF_FLOAT).attr("DstT", TF_INT32);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Tensor y = node.run1({make<float>({6}, {1.7f, -1.7f, 0.f, 3e10f, -3e10f, nan})});
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{1, -1, 0, std::numeric_limits<int32_t>::max(),
                                                      std::numeric_limits<int32_t>::min(), 0}));
}

TEST(CastTest, BoolAndWideningConversions) {
  Node to_bool("Cast");
  to_bool.attr("SrcT", TF_INT64).attr("DstT", TF_BOOL);
  EXPECT_EQ(values<bool>(to_bool.run1({make<int64_t>({3}, {0, 5, -1})})),
            (std::vector<bool>{false, true, true}));
  Node from_bool("Cast");
  from_bool.attr("SrcT", TF_BOOL).attr("DstT", TF_FLOAT);
  EXPECT_EQ(values<float>(from_bool.run1({make<bool>({2}, {true, false})})),
            (std::vector<float>{1.f, 0.f}));
  Node u8("Cast");
  u8.attr("SrcT", TF_UINT8).attr("DstT", TF_FLOAT);
  EXPECT_EQ(values<float>(u8.run1({make<uint8_t>({2}, {255, 7})})), (std::vector<float>{255, 7}));
}

TEST(CastTest, SameTypePassesThroughAndStringsAreRefused) {
  Node same("Cast");
  same.attr("SrcT", TF_FLOAT).attr("DstT", TF_FLOAT);
  Tensor x = iota({2}, 1);
  EXPECT_EQ(same.run1({x}).raw(), x.raw());
  Node str("Cast");
  str.attr("SrcT", TF_STRING).attr("DstT", TF_FLOAT);
  EXPECT_EQ(str.prepare().code(), TF_UNIMPLEMENTED);
}

}  // namespace
}  // namespace qtf

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

TEST(MathKernelTest, UnaryValues) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case { const char* op; std::vector<float> x, want; };
  const Case cases[] = {
      {"Square", {-3, 0.5f, 2}, {9, 0.25f, 4}},
      {"Sqrt", {0, 4, 2.25f}, {0, 2, 1.5f}},
      {"Rsqrt", {4, 0.25f, 0}, {0.5f, 2, inf}},
      {"Exp", {0, 1, -1}, {1, std::exp(1.f), std::exp(-1.f)}},
      {"Log", {1, std::exp(2.f), 0}, {0, 2, -inf}},
      {"Floor", {-1.5f, 1.5f, 2}, {-2, 1, 2}},
      {"Round", {0.5f, 1.5f, 2.5f, -0.5f, -1.6f, 2.4f}, {0, 2, 2, -0.f, -2, 2}},
      {"Elu", {-1, 0, 3}, {std::exp(-1.f) - 1, 0, 3}},
      {"Softplus", {0, 100, -100, 1}, {std::log(2.f), 100, std::exp(-100.f), std::log1p(std::exp(1.f))}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_FLOAT);
    const int64_t n = static_cast<int64_t>(c.x.size());
    std::vector<float> got = values<float>(node.run1({make<float>({n}, c.x)}));
    ASSERT_EQ(got.size(), c.want.size()) << c.op;
    for (size_t i = 0; i < got.size(); ++i) {
      if (std::isinf(c.want[i])) EXPECT_EQ(got[i], c.want[i]) << c.op << " " << i;
      else EXPECT_NEAR(got[i], c.want[i], 1e-6f * std::max(1.f, std::fabs(c.want[i]))) << c.op << " " << i;
    }
  }
}

TEST(MathKernelTest, SqrtOfNegativeIsNaNAndIntegerSquareWorks) {
  Node sqrt("Sqrt");
  sqrt.attr("T", TF_FLOAT);
  EXPECT_TRUE(std::isnan(values<float>(sqrt.run1({scalar(-1.f)}))[0]));
  Node square("Square");
  square.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(square.run1({make<int32_t>({2}, {-4, 3})})), (std::vector<int32_t>{16, 9}));
  Node log("Log");
  log.attr("T", TF_INT64);
  EXPECT_EQ(log.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(MathKernelTest, LeakyReluDefaultAndCustomAlpha) {
  Node def("LeakyRelu");  // T and alpha both from the OpDef defaults
  EXPECT_EQ(values<float>(def.run1({make<float>({3}, {-10, 0, 4})})), (std::vector<float>{-2, 0, 4}));
  Node custom("LeakyRelu");
  custom.attr("alpha", 0.5f);
  EXPECT_EQ(values<float>(custom.run1({make<float>({2}, {-4, 4})})), (std::vector<float>{-2, 4}));
  Node ints("LeakyRelu");
  ints.attr("T", TF_INT32);
  EXPECT_EQ(ints.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(MathKernelTest, PowBroadcastsAndRefusesIntegers) {
  Node node("Pow");
  node.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(node.run1({make<float>({3}, {2, 3, 4}), scalar(2.f)})),
            (std::vector<float>{4, 9, 16}));
  EXPECT_EQ(values<float>(node.run1({scalar(2.f), make<float>({3}, {-1, 0, 0.5f})})),
            (std::vector<float>{0.5f, 1, std::sqrt(2.f)}));
  Node ints("Pow");
  ints.attr("T", TF_INT32);
  EXPECT_EQ(ints.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(CompareKernelTest, AllOperatorsWithBroadcast) {
  struct Case { const char* op; std::vector<bool> want; };
  // x = [1, 2, 3] against y = 2
  const Case cases[] = {
      {"Greater", {false, false, true}},  {"GreaterEqual", {false, true, true}},
      {"Less", {true, false, false}},     {"LessEqual", {true, true, false}},
      {"Equal", {false, true, false}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_INT32);
    Tensor z = node.run1({make<int32_t>({3}, {1, 2, 3}), scalar<int32_t>(2)});
    EXPECT_EQ(z.dtype(), TF_BOOL) << c.op;
    EXPECT_EQ(values<bool>(z), c.want) << c.op;
  }
  Node nan_eq("Equal");
  nan_eq.attr("T", TF_FLOAT);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(values<bool>(nan_eq.run1({make<float>({2}, {nan, 1}), make<float>({2}, {nan, 1})})),
            (std::vector<bool>{false, true}));
}

TEST(SelectKernelTest, V1ShapesAndRowVector) {
  Node node("Select");
  node.attr("T", TF_FLOAT);
  Tensor t = make<float>({2, 2}, {1, 2, 3, 4});
  Tensor e = make<float>({2, 2}, {-1, -2, -3, -4});
  EXPECT_EQ(values<float>(node.run1({make<bool>({2, 2}, {true, false, false, true}), t, e})),
            (std::vector<float>{1, -2, -3, 4}));
  EXPECT_EQ(values<float>(node.run1({make<bool>({2}, {false, true}), t, e})),
            (std::vector<float>{-1, -2, 3, 4}));
  EXPECT_EQ(values<float>(node.run1({scalar(true), t, e})), (std::vector<float>{1, 2, 3, 4}));
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({make<bool>({3}, {true, true, true}), t, e}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({scalar(true), t, make<float>({2}, {1, 2})}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({make<float>({2, 2}, {1, 0, 0, 1}), t, e}, &out).code(), TF_INVALID_ARGUMENT);
}

TEST(SelectKernelTest, V2BroadcastsAllThree) {
  Node node("SelectV2");
  node.attr("T", TF_INT32);
  // condition [2,1], t [3], e scalar -> [2,3]
  Tensor y = node.run1({make<bool>({2, 1}, {true, false}), make<int32_t>({3}, {1, 2, 3}),
                        scalar<int32_t>(0)});
  EXPECT_EQ(y.shape(), (Shape{2, 3}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{1, 2, 3, 0, 0, 0}));
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({make<bool>({2}, {true, false}), make<int32_t>({3}, {1, 2, 3}), scalar<int32_t>(0)}, &out)
                .code(),
            TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
