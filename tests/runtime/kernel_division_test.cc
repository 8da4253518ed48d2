// Integer and real division: Div, TruncateDiv, FloorDiv, DivNoNan, Mod,
// TruncateMod and FloorMod, their rounding, dtype rules and errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "kernel_testing.h"
#include "reference_case.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

struct DivisionCase {
  const char* name;
  const char* op;
  DataType t;
};

class DivisionReferenceTest : public ::testing::TestWithParam<DivisionCase> {};

TEST_P(DivisionReferenceTest, MatchesNumpy) {
  const DivisionCase& c = GetParam();
  Node node(c.op);
  node.attr("T", c.t);
  testing::expect_reference(node, c.name, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DivisionReferenceTest,
    ::testing::Values(DivisionCase{"floor_div_int", "FloorDiv", TF_INT32},
                      DivisionCase{"floor_mod_int", "FloorMod", TF_INT32},
                      DivisionCase{"truncate_div_int", "TruncateDiv", TF_INT32},
                      DivisionCase{"truncate_div_int", "Div", TF_INT32},
                      DivisionCase{"mod_int", "Mod", TF_INT32},
                      DivisionCase{"mod_int", "TruncateMod", TF_INT32},
                      DivisionCase{"floor_div_int64", "FloorDiv", TF_INT64},
                      DivisionCase{"floor_mod_int64", "FloorMod", TF_INT64},
                      DivisionCase{"floor_div_float", "FloorDiv", TF_FLOAT},
                      DivisionCase{"floor_mod_float", "FloorMod", TF_FLOAT},
                      DivisionCase{"mod_float", "Mod", TF_FLOAT}));

TEST(DivisionTest, HandWorkedSigns) {
  // 7 and -7 against 2 and -2: the four sign combinations.
  const Tensor x = make<int32_t>({4}, {7, -7, 7, -7});
  const Tensor y = make<int32_t>({4}, {2, 2, -2, -2});
  struct Case { const char* op; std::vector<int32_t> want; };
  const Case cases[] = {
      {"FloorDiv", {3, -4, -4, 3}},    {"TruncateDiv", {3, -3, -3, 3}},
      {"FloorMod", {1, 1, -1, -1}},    {"Mod", {1, -1, 1, -1}},
      {"Div", {3, -3, -3, 3}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_INT32);
    EXPECT_EQ(values<int32_t>(node.run1({x, y})), c.want) << c.op;
  }
}

TEST(DivisionTest, IntegerDivisionByZeroFailsTheRun) {
  for (const char* op : {"FloorDiv", "FloorMod", "TruncateDiv", "Mod", "TruncateMod", "Div"}) {
    for (DataType t : {TF_INT32, TF_INT64, TF_UINT8, TF_INT8}) {
      Node node(op);
      node.attr("T", t);
      Tensor x = Tensor::allocate(t, {3});
      Tensor y = Tensor::allocate(t, {3});
      std::memset(x.raw(), 1, x.byte_size());
      std::memset(y.raw(), 1, y.byte_size());
      std::memset(static_cast<char*>(y.raw()) + dtype_size(t), 0, dtype_size(t));  // y[1] = 0
      Status s = testing::run_error(node, {x, y});
      EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << op << " " << dtype_name(t);
      EXPECT_NE(s.message().find("division by zero"), std::string::npos) << s.message();
    }
  }
}

TEST(DivisionTest, RealDivisionByZeroFollowsIeee) {
  Node node("FloorDiv");
  node.attr("T", TF_FLOAT);
  std::vector<float> z = values<float>(node.run1({make<float>({3}, {1, -1, 0}), scalar(0.f)}));
  EXPECT_EQ(z[0], std::numeric_limits<float>::infinity());
  EXPECT_EQ(z[1], -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(z[2]));
  Node nonan("DivNoNan");
  nonan.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(nonan.run1({make<float>({3}, {1, 6, 0}), make<float>({3}, {0, 3, 0})})),
            (std::vector<float>{0, 2, 0}));
}

TEST(DivisionTest, LowestDividedByMinusOneWraps) {
  const int32_t low = std::numeric_limits<int32_t>::min();
  for (const char* op : {"FloorDiv", "TruncateDiv"}) {
    Node node(op);
    node.attr("T", TF_INT32);
    EXPECT_EQ(values<int32_t>(node.run1({make<int32_t>({2}, {low, 6}), scalar<int32_t>(-1)})),
              (std::vector<int32_t>{low, -6})) << op;
  }
  for (const char* op : {"FloorMod", "Mod"}) {
    Node node(op);
    node.attr("T", TF_INT64);
    const int64_t low64 = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(values<int64_t>(node.run1({make<int64_t>({2}, {low64, 7}), scalar<int64_t>(-1)})),
              (std::vector<int64_t>{0, 0})) << op;
  }
}

TEST(DivisionTest, UnsignedAndNarrowTypes) {
  Node fd("FloorDiv");
  fd.attr("T", TF_UINT8);
  EXPECT_EQ(values<uint8_t>(fd.run1({make<uint8_t>({2}, {250, 7}), scalar<uint8_t>(3)})),
            (std::vector<uint8_t>{83, 2}));
  Node fm("FloorMod");
  fm.attr("T", TF_INT8);
  EXPECT_EQ(values<int8_t>(fm.run1({make<int8_t>({2}, {-128, 5}), scalar<int8_t>(3)})),
            (std::vector<int8_t>{1, 2}));
}

TEST(DivisionTest, DivNoNanIsRealOnly) {
  Node node("DivNoNan");
  node.attr("T", TF_INT32);
  EXPECT_EQ(node.prepare().code(), TF_UNIMPLEMENTED);
}

}  // namespace
}  // namespace qtf
