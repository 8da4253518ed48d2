// Logic and comparison kernels: LogicalAnd/Or/Not, NotEqual and the other
// comparisons with broadcasting, All and Any.
#include <gtest/gtest.h>

#include "kernel_testing.h"
#include "reference_case.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

struct LogicCase {
  const char* name;
  const char* op;
  DataType t;  // 0: the op has no "T" attr
};

class LogicReferenceTest : public ::testing::TestWithParam<LogicCase> {};

TEST_P(LogicReferenceTest, MatchesNumpy) {
  const LogicCase& c = GetParam();
  Node node(c.op);
  if (c.t != 0) node.attr("T", c.t);
  testing::expect_reference(node, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogicReferenceTest,
    ::testing::Values(LogicCase{"logical_and_bcast", "LogicalAnd", DataType(0)},
                      LogicCase{"logical_or_bcast", "LogicalOr", DataType(0)},
                      LogicCase{"logical_not", "LogicalNot", DataType(0)},
                      LogicCase{"not_equal_int_bcast", "NotEqual", TF_INT32},
                      LogicCase{"less_equal_float_bcast", "LessEqual", TF_FLOAT},
                      LogicCase{"all_axes_1", "All", DataType(0)},
                      LogicCase{"all_axes_0_2", "All", DataType(0)},
                      LogicCase{"all_axes_m1", "All", DataType(0)},
                      LogicCase{"any_axes_1", "Any", DataType(0)},
                      LogicCase{"any_axes_0_2", "Any", DataType(0)},
                      LogicCase{"any_axes_m1", "Any", DataType(0)}));

TEST(LogicTest, TruthTables) {
  const Tensor x = make<bool>({4}, {false, false, true, true});
  const Tensor y = make<bool>({4}, {false, true, false, true});
  EXPECT_EQ(values<bool>(Node("LogicalAnd").run1({x, y})), (std::vector<bool>{false, false, false, true}));
  EXPECT_EQ(values<bool>(Node("LogicalOr").run1({x, y})), (std::vector<bool>{false, true, true, true}));
  EXPECT_EQ(values<bool>(Node("LogicalNot").run1({x})), (std::vector<bool>{true, true, false, false}));
  Node eq("Equal"), ne("NotEqual");
  eq.attr("T", TF_BOOL);
  ne.attr("T", TF_BOOL);
  EXPECT_EQ(values<bool>(eq.run1({x, y})), (std::vector<bool>{true, false, false, true}));
  EXPECT_EQ(values<bool>(ne.run1({x, y})), (std::vector<bool>{false, true, true, false}));
}

TEST(LogicTest, ScalarBroadcastAndEmpty) {
  Node node("LogicalAnd");
  Tensor z = node.run1({make<bool>({2, 2}, {true, false, true, true}), scalar(true)});
  EXPECT_EQ(z.shape(), (Shape{2, 2}));
  EXPECT_EQ(values<bool>(z), (std::vector<bool>{true, false, true, true}));
  Tensor empty = node.run1({make<bool>({0, 3}, {}), make<bool>({3}, {true, false, true})});
  EXPECT_EQ(empty.shape(), (Shape{0, 3}));
}

TEST(LogicTest, LogicalOpsRejectOtherTypesAndShapes) {
  Node node("LogicalOr");
  EXPECT_EQ(testing::run_error(node, {make<float>({2}, {1, 0}), make<bool>({2}, {true, false})}).code(),
            TF_INVALID_ARGUMENT);
  Node node2("LogicalOr");
  EXPECT_EQ(testing::run_error(node2, {make<bool>({2}, {true, false}), make<bool>({3}, {true, false, true})}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(LogicTest, ComparisonsBroadcastEveryWay) {
  const Tensor x = make<float>({2, 1}, {1, 3});
  const Tensor y = make<float>({3}, {1, 2, 3});
  struct Case { const char* op; std::vector<bool> want; };
  const Case cases[] = {
      {"Equal", {true, false, false, false, false, true}},
      {"NotEqual", {false, true, true, true, true, false}},
      {"Less", {false, true, true, false, false, false}},
      {"LessEqual", {true, true, true, false, false, true}},
      {"Greater", {false, false, false, true, true, false}},
      {"GreaterEqual", {true, false, false, true, true, true}},
  };
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_FLOAT);
    Tensor z = node.run1({x, y});
    EXPECT_EQ(z.shape(), (Shape{2, 3})) << c.op;
    EXPECT_EQ(values<bool>(z), c.want) << c.op;
  }
}

TEST(LogicTest, IncompatibleShapesWithoutErrorGiveOneScalar) {
  for (bool not_equal : {false, true}) {
    Node node(not_equal ? "NotEqual" : "Equal");
    node.attr("T", TF_INT32).attr("incompatible_shape_error", false);
    Tensor z = node.run1({make<int32_t>({2}, {1, 2}), make<int32_t>({3}, {1, 2, 3})});
    EXPECT_EQ(z.shape(), Shape{});
    EXPECT_EQ(values<bool>(z), std::vector<bool>{not_equal});
    // Shapes that broadcast still compare element by element.
    EXPECT_EQ(values<bool>(node.run1({make<int32_t>({2}, {1, 2}), scalar<int32_t>(2)})),
              (std::vector<bool>{not_equal, !not_equal}));
  }
  Node strict("Equal");
  strict.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(strict, {make<int32_t>({2}, {1, 2}), make<int32_t>({3}, {1, 2, 3})}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(LogicTest, OrderedComparisonsRefuseBool) {
  Node node("Less");
  node.attr("T", TF_BOOL);
  EXPECT_EQ(node.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(LogicTest, AllAnyOfEmptyAxesAndKeepDims) {
  const Tensor empty = make<bool>({2, 0}, {});
  Node all("All"), any("Any");
  EXPECT_EQ(values<bool>(all.run1({empty, scalar<int32_t>(1)})), (std::vector<bool>{true, true}));
  EXPECT_EQ(values<bool>(any.run1({empty, scalar<int32_t>(1)})), (std::vector<bool>{false, false}));
  Node keep("Any");
  keep.attr("keep_dims", true);
  Tensor k = keep.run1({make<bool>({2, 2}, {false, true, false, false}), make<int64_t>({1}, {-2})});
  EXPECT_EQ(k.shape(), (Shape{1, 2}));
  EXPECT_EQ(values<bool>(k), (std::vector<bool>{false, true}));
  // No axes: the input unchanged.
  Node none("All");
  EXPECT_EQ(values<bool>(none.run1({make<bool>({2}, {true, false}), make<int32_t>({0}, {})})),
            (std::vector<bool>{true, false}));
}

TEST(LogicTest, AllRejectsNumericInputAndBadAxis) {
  Node all("All");
  EXPECT_EQ(testing::run_error(all, {make<float>({2}, {1, 0}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  Node any("Any");
  EXPECT_EQ(testing::run_error(any, {make<bool>({2}, {true, false}), scalar<int32_t>(1)}).code(),
            TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
