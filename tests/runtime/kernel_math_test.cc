// Math kernels: Abs, Sign, Reciprocal/Inv, Erf/Erfc, trigonometric,
// Softsign, Selu, Log1p/Expm1, IsNan/IsInf/IsFinite, ClipByValue, AddN,
// SquaredDifference.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kernel_testing.h"
#include "reference_case.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

struct MathCase {
  const char* name;
  const char* op;
  double tolerance;
};

class MathReferenceTest : public ::testing::TestWithParam<MathCase> {};

TEST_P(MathReferenceTest, MatchesReference) {
  const MathCase& c = GetParam();
  Node node(c.op);
  node.attr("T", TF_FLOAT);
  if (std::string(c.op) == "AddN") node.attr("N", static_cast<int64_t>(testing::load_reference(c.name).inputs.size()));
  testing::expect_reference(node, c.name, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MathReferenceTest,
    ::testing::Values(MathCase{"erf", "Erf", 2e-7}, MathCase{"erfc", "Erfc", 2e-7},
                      MathCase{"sin", "Sin", 2e-7}, MathCase{"cos", "Cos", 2e-7},
                      MathCase{"tan", "Tan", 1e-6}, MathCase{"atan", "Atan", 2e-7},
                      MathCase{"sinh", "Sinh", 2e-7}, MathCase{"softsign", "Softsign", 2e-7},
                      MathCase{"selu", "Selu", 2e-7}, MathCase{"expm1", "Expm1", 2e-7},
                      MathCase{"reciprocal", "Reciprocal", 2e-7},
                      MathCase{"reciprocal", "Inv", 2e-7}, MathCase{"log1p", "Log1p", 2e-7},
                      MathCase{"squared_difference_bcast", "SquaredDifference", 2e-7},
                      MathCase{"clip_by_value_bcast", "ClipByValue", 0},
                      MathCase{"add_n_three", "AddN", 0}));

TEST(MathTest, AbsAndSignOfIntegers) {
  const int32_t low = std::numeric_limits<int32_t>::min();
  Node abs("Abs");
  abs.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(abs.run1({make<int32_t>({4}, {-3, 0, 5, low})})),
            (std::vector<int32_t>{3, 0, 5, low}));
  Node sign("Sign");
  sign.attr("T", TF_INT64);
  EXPECT_EQ(values<int64_t>(sign.run1({make<int64_t>({3}, {-9, 0, 4})})), (std::vector<int64_t>{-1, 0, 1}));
}

TEST(MathTest, SignAndAbsOfSpecialReals) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Node sign("Sign");
  sign.attr("T", TF_FLOAT);
  std::vector<float> s = values<float>(sign.run1({make<float>({4}, {-inf, -0.f, 2.5f, nan})}));
  EXPECT_EQ(s[0], -1.f);
  EXPECT_EQ(s[1], 0.f);
  EXPECT_EQ(s[2], 1.f);
  EXPECT_TRUE(std::isnan(s[3]));
  Node abs("Abs");
  abs.attr("T", TF_DOUBLE);
  EXPECT_EQ(values<double>(abs.run1({make<double>({2}, {-0.5, -std::numeric_limits<double>::infinity()})})),
            (std::vector<double>{0.5, std::numeric_limits<double>::infinity()}));
}

TEST(MathTest, RealTestsGiveBool) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case { const char* op; std::vector<bool> want; };
  const Case cases[] = {{"IsNan", {false, true, false, false}},
                        {"IsInf", {false, false, true, true}},
                        {"IsFinite", {true, false, false, false}}};
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_FLOAT);
    // Built in place so the kernel could reuse the buffer; it must not, the
    // output type differs.
    std::vector<Tensor> in;
    in.emplace_back(make<float>({4}, {1.f, nan, inf, -inf}));
    std::vector<Tensor> out;
    ASSERT_TRUE(node.run(std::move(in), &out).is_ok()) << c.op;
    EXPECT_EQ(values<bool>(out[0]), c.want) << c.op;
  }
}

TEST(MathTest, RealOnlyOpsRefuseIntegers) {
  for (const char* op : {"Erf", "Erfc", "Sin", "Cos", "Softsign", "Selu", "Reciprocal", "Inv",
                         "IsNan", "Log1p", "Atan2"}) {
    Node node(op);
    node.attr("T", TF_INT32);
    EXPECT_EQ(node.prepare().code(), TF_UNIMPLEMENTED) << op;
  }
}

TEST(MathTest, SeluAndSoftsignByHand) {
  Node selu("Selu");
  selu.attr("T", TF_DOUBLE);
  std::vector<double> s = values<double>(selu.run1({make<double>({3}, {2.0, 0.0, -1.0})}));
  EXPECT_NEAR(s[0], 2.1014019747109609, 1e-15);
  EXPECT_EQ(s[1], 0.0);
  EXPECT_NEAR(s[2], 1.7580993408473768 * (std::exp(-1.0) - 1.0), 1e-15);
  Node soft("Softsign");
  soft.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(soft.run1({make<float>({3}, {-3, 0, 1})})), (std::vector<float>{-0.75f, 0, 0.5f}));
}

TEST(MathTest, Atan2Quadrants) {
  Node node("Atan2");
  node.attr("T", TF_DOUBLE);
  std::vector<double> z = values<double>(node.run1({make<double>({4}, {1, 1, -1, -1}), make<double>({4}, {1, -1, -1, 1})}));
  const double q = std::atan(1.0);
  EXPECT_NEAR(z[0], q, 1e-15);
  EXPECT_NEAR(z[1], 3 * q, 1e-15);
  EXPECT_NEAR(z[2], -3 * q, 1e-15);
  EXPECT_NEAR(z[3], -q, 1e-15);
}

TEST(MathTest, ClipByValueIntegersAndErrors) {
  Node node("ClipByValue");
  node.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(node.run1({make<int32_t>({5}, {-5, -1, 0, 3, 9}), scalar<int32_t>(-1),
                                       scalar<int32_t>(3)})),
            (std::vector<int32_t>{-1, -1, 0, 3, 3}));
  // A bound larger than t cannot be taken: the output keeps t's shape.
  Node bad("ClipByValue");
  bad.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(bad, {make<int32_t>({2}, {1, 2}), make<int32_t>({2, 2}, {0, 0, 0, 0}),
                                     scalar<int32_t>(3)}).code(),
            TF_INVALID_ARGUMENT);
  // NaN passes through.
  Node real("ClipByValue");
  real.attr("T", TF_FLOAT);
  std::vector<float> r = values<float>(real.run1({make<float>({2}, {std::nanf(""), 7}), scalar(0.f), scalar(1.f)}));
  EXPECT_TRUE(std::isnan(r[0]));
  EXPECT_EQ(r[1], 1.f);
}

TEST(MathTest, AddNShapesAndSharing) {
  Node node("AddN");
  node.attr("T", TF_INT32).attr("N", int64_t{2});
  const Tensor a = make<int32_t>({3}, {1, 2, 3});
  Tensor z = node.run1({a, make<int32_t>({3}, {10, 20, 30})});
  EXPECT_EQ(values<int32_t>(z), (std::vector<int32_t>{11, 22, 33}));
  EXPECT_EQ(values<int32_t>(a), (std::vector<int32_t>{1, 2, 3}));  // shared input untouched
  Node bad("AddN");
  bad.attr("T", TF_INT32).attr("N", int64_t{2});
  EXPECT_EQ(testing::run_error(bad, {make<int32_t>({3}, {1, 2, 3}), make<int32_t>({1}, {1})}).code(),
            TF_INVALID_ARGUMENT);
  Node one("AddN");
  one.attr("T", TF_FLOAT).attr("N", int64_t{1});
  EXPECT_EQ(values<float>(one.run1({make<float>({2}, {4, 5})})), (std::vector<float>{4, 5}));
}

TEST(MathTest, SquaredDifferenceOfIntegers) {
  Node node("SquaredDifference");
  node.attr("T", TF_INT64);
  EXPECT_EQ(values<int64_t>(node.run1({make<int64_t>({3}, {1, -2, 5}), scalar<int64_t>(3)})),
            (std::vector<int64_t>{4, 25, 4}));
}

}  // namespace
}  // namespace qtf
