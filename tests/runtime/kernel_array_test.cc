// Array kernels: Shape, Reshape, Squeeze, ExpandDims, Slice, StridedSlice,
// Pack, ConcatV2, Fill.
#include <gtest/gtest.h>

#include "kernel_testing.h"

namespace qtf {
namespace {

using testing::int_iota;
using testing::ints;
using testing::make;
using testing::Node;
using testing::run_error;
using testing::scalar;
using testing::values;

TEST(ShapeTest, Int32AndInt64) {
  Node s32("Shape");
  s32.attr("T", TF_FLOAT);
  EXPECT_EQ(values<int32_t>(s32.run1({Tensor::allocate(TF_FLOAT, {1, 5, 7})})),
            (std::vector<int32_t>{1, 5, 7}));
  Node s64("Shape");
  s64.attr("T", TF_STRING).attr("out_type", TF_INT64);
  Tensor out = s64.run1({Tensor::strings({2}, {"a", "b"})});
  EXPECT_EQ(values<int64_t>(out), (std::vector<int64_t>{2}));
  Tensor of_scalar = s32.run1({scalar(1.f)});
  EXPECT_EQ(of_scalar.shape(), (Shape{0}));
}

TEST(ReshapeTest, InfersOneDimensionAndSharesBuffer) {
  Node node("Reshape");
  node.attr("T", TF_INT32);
  Tensor x = int_iota({2, 3, 4});
  Tensor y = node.run1({x, ints({4, -1})});
  EXPECT_EQ(y.shape(), (Shape{4, 6}));
  EXPECT_EQ(y.raw(), x.raw());
  Tensor z = node.run1({x, make<int64_t>({3}, {-1, 2, 2})});
  EXPECT_EQ(z.shape(), (Shape{6, 2, 2}));
  Tensor s = node.run1({int_iota({1}), ints({})});
  EXPECT_EQ(s.shape(), Shape{});
}

TEST(ReshapeTest, BadShapesAreInvalidArgument) {
  Node node("Reshape");
  node.attr("T", TF_INT32);
  for (const std::vector<int32_t>& shape :
       std::vector<std::vector<int32_t>>{{5, -1}, {-1, -1}, {7}, {-2, 12}, {0, -1}}) {
    Status s = run_error(node, {int_iota({2, 6}), ints(shape)});
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << shape_string({shape.begin(), shape.end()});
    EXPECT_NE(s.message().find("test/Reshape"), std::string::npos);
  }
  EXPECT_EQ(run_error(node, {int_iota({2}), make<float>({1}, {2.f})}).code(), TF_INVALID_ARGUMENT);
}

TEST(SqueezeTest, AllOrChosenDims) {
  Node all("Squeeze");
  all.attr("T", TF_INT32);
  EXPECT_EQ(all.run1({int_iota({1, 3, 1, 2})}).shape(), (Shape{3, 2}));
  Node chosen("Squeeze");
  chosen.attr("T", TF_INT32).attr("squeeze_dims", {-2});
  EXPECT_EQ(chosen.run1({int_iota({1, 3, 1, 2})}).shape(), (Shape{1, 3, 2}));
  Node bad("Squeeze");
  bad.attr("T", TF_INT32).attr("squeeze_dims", {1});
  EXPECT_EQ(run_error(bad, {int_iota({1, 3})}).code(), TF_INVALID_ARGUMENT);
  Node out_of_range("Squeeze");
  out_of_range.attr("T", TF_INT32).attr("squeeze_dims", {4});
  EXPECT_EQ(run_error(out_of_range, {int_iota({1, 3})}).code(), TF_INVALID_ARGUMENT);
}

TEST(ExpandDimsTest, PositiveNegativeAndRange) {
  Node node("ExpandDims");
  node.attr("T", TF_INT32);
  struct Case { int32_t dim; Shape want; };
  for (const Case& c : {Case{0, {1, 2, 3}}, Case{2, {2, 3, 1}}, Case{-1, {2, 3, 1}},
                        Case{-3, {1, 2, 3}}, Case{1, {2, 1, 3}}}) {
    EXPECT_EQ(node.run1({int_iota({2, 3}), scalar<int32_t>(c.dim)}).shape(), c.want) << c.dim;
  }
  EXPECT_EQ(run_error(node, {int_iota({2, 3}), scalar<int32_t>(3)}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({2, 3}), scalar<int32_t>(-4)}).code(), TF_INVALID_ARGUMENT);
}

TEST(SliceTest, WindowAndRest) {
  Node node("Slice");
  node.attr("T", TF_INT32).attr("Index", TF_INT32);
  // 3x4: rows 1..2, columns 1.. end
  Tensor y = node.run1({int_iota({3, 4}), ints({1, 1}), ints({2, -1})});
  EXPECT_EQ(y.shape(), (Shape{2, 3}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{5, 6, 7, 9, 10, 11}));
  Tensor empty = node.run1({int_iota({3, 4}), ints({3, 0}), ints({0, 4})});
  EXPECT_EQ(empty.shape(), (Shape{0, 4}));
  Node strings("Slice");
  strings.attr("T", TF_STRING).attr("Index", TF_INT64);
  Tensor s = strings.run1({Tensor::strings({3}, {"a", "b", "c"}), make<int64_t>({1}, {1}),
                           make<int64_t>({1}, {2})});
  EXPECT_EQ(s.string_values(), (std::vector<std::string>{"b", "c"}));
}

TEST(SliceTest, OutOfRangeAndRankMismatch) {
  Node node("Slice");
  node.attr("T", TF_INT32).attr("Index", TF_INT32);
  EXPECT_EQ(run_error(node, {int_iota({3, 4}), ints({2, 0}), ints({2, 4})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({3, 4}), ints({-1, 0}), ints({1, 4})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({3, 4}), ints({0}), ints({1})}).code(), TF_INVALID_ARGUMENT);
}

// StridedSlice over int_iota({2,3,4}) (value = 12a + 4b + c); expected results
// worked out by hand from Python slicing of the same array.
struct StridedCase {
  const char* python;
  std::vector<int32_t> begin, end, strides;
  int begin_mask, end_mask, ellipsis_mask, new_axis_mask, shrink_mask;
  Shape want_shape;
  std::vector<int32_t> want;
};

class StridedSliceTest : public ::testing::TestWithParam<StridedCase> {};

TEST_P(StridedSliceTest, MatchesPythonSlicing) {
  const StridedCase& c = GetParam();
  Node node("StridedSlice");
  node.attr("T", TF_INT32).attr("Index", TF_INT32);
  node.attr("begin_mask", c.begin_mask).attr("end_mask", c.end_mask);
  node.attr("ellipsis_mask", c.ellipsis_mask).attr("new_axis_mask", c.new_axis_mask);
  node.attr("shrink_axis_mask", c.shrink_mask);
  Tensor y = node.run1({int_iota({2, 3, 4}), ints(c.begin), ints(c.end), ints(c.strides)});
  EXPECT_EQ(y.shape(), c.want_shape) << c.python;
  EXPECT_EQ(values<int32_t>(y), c.want) << c.python;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, StridedSliceTest,
    ::testing::Values(
        StridedCase{"x[1]", {1}, {2}, {1}, 0, 0, 0, 0, 1, {3, 4},
                    {12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}},
        StridedCase{"x[:, 1:3, ::2]", {0, 1, 0}, {0, 3, 0}, {1, 1, 2}, 0b101, 0b101, 0, 0, 0,
                    {2, 2, 2}, {4, 6, 8, 10, 16, 18, 20, 22}},
        StridedCase{"x[..., -1]", {0, -1}, {0, 0}, {1, 1}, 0, 0, 0b01, 0, 0b10, {2, 3},
                    {3, 7, 11, 15, 19, 23}},
        StridedCase{"x[:, ::-1, 3]", {0, 0, 3}, {0, 0, 4}, {1, -1, 1}, 0b011, 0b011, 0, 0, 0b100,
                    {2, 3}, {11, 7, 3, 23, 19, 15}},
        StridedCase{"x[1, tf.newaxis, 0, 1:]", {1, 0, 0, 1}, {2, 0, 1, 0}, {1, 1, 1, 1}, 0, 0b1000,
                    0, 0b0010, 0b0101, {1, 3}, {13, 14, 15}},
        StridedCase{"x[tf.newaxis, ..., 2]", {0, 0, 2}, {0, 0, 3}, {1, 1, 1}, 0, 0, 0b010, 0b001,
                    0b100, {1, 2, 3}, {2, 6, 10, 14, 18, 22}},
        StridedCase{"x[0, ..., tf.newaxis]", {0, 0, 0}, {1, 0, 0}, {1, 1, 1}, 0, 0, 0b010, 0b100,
                    0b001, {3, 4, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        StridedCase{"x[-5:10, 2:, -3:-1]", {-5, 2, -3}, {10, 0, -1}, {1, 1, 1}, 0, 0b010, 0, 0, 0,
                    {2, 1, 2}, {9, 10, 21, 22}},
        StridedCase{"x[1:1]", {1}, {1}, {1}, 0, 0, 0, 0, 0, {0, 3, 4}, {}},
        StridedCase{"x[::-1, 2, ::-3]", {0, 2, 0}, {0, 3, 0}, {-1, 1, -3}, 0b101, 0b101, 0, 0,
                    0b010, {2, 2}, {23, 20, 11, 8}}));

TEST(StridedSliceErrorTest, ZeroStrideAndOutOfBoundsIndex) {
  Node node("StridedSlice");
  node.attr("T", TF_INT32).attr("Index", TF_INT32);
  EXPECT_EQ(run_error(node, {int_iota({4}), ints({0}), ints({4}), ints({0})}).code(),
            TF_INVALID_ARGUMENT);
  Node shrink("StridedSlice");
  shrink.attr("T", TF_INT32).attr("Index", TF_INT32).attr("shrink_axis_mask", 1);
  EXPECT_EQ(run_error(shrink, {int_iota({4}), ints({4}), ints({5}), ints({1})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(shrink, {int_iota({4}), ints({0, 0}), ints({1}), ints({1})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(shrink, {int_iota({4}), ints({0, 0}), ints({1, 1}), ints({1, 1})}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(PackTest, AxesZeroMiddleAndLast) {
  struct Case { int axis; Shape shape; std::vector<int32_t> want; };
  // a = [[0,1],[2,3]], b = a + 10 (hand-stacked)
  const Case cases[] = {
      {0, {2, 2, 2}, {0, 1, 2, 3, 10, 11, 12, 13}},
      {1, {2, 2, 2}, {0, 1, 10, 11, 2, 3, 12, 13}},
      {-1, {2, 2, 2}, {0, 10, 1, 11, 2, 12, 3, 13}},
  };
  for (const Case& c : cases) {
    Node node("Pack");
    node.attr("T", TF_INT32).attr("N", 2).attr("axis", c.axis);
    Tensor y = node.run1({make<int32_t>({2, 2}, {0, 1, 2, 3}), make<int32_t>({2, 2}, {10, 11, 12, 13})});
    EXPECT_EQ(y.shape(), c.shape) << c.axis;
    EXPECT_EQ(values<int32_t>(y), c.want) << c.axis;
  }
  Node scalars("Pack");
  scalars.attr("T", TF_FLOAT).attr("N", 3);
  EXPECT_EQ(values<float>(scalars.run1({scalar(1.f), scalar(2.f), scalar(3.f)})),
            (std::vector<float>{1, 2, 3}));
}

TEST(PackTest, MismatchedShapesAreInvalidArgument) {
  Node node("Pack");
  node.attr("T", TF_INT32).attr("N", 2);
  EXPECT_EQ(run_error(node, {int_iota({2}), int_iota({3})}).code(), TF_INVALID_ARGUMENT);
  Node far("Pack");
  far.attr("T", TF_INT32).attr("N", 2).attr("axis", 3);
  EXPECT_EQ(run_error(far, {int_iota({2}), int_iota({2})}).code(), TF_INVALID_ARGUMENT);
}

TEST(ConcatV2Test, InnerAndOuterAxes) {
  Node node("ConcatV2");
  node.attr("T", TF_INT32).attr("N", 2);
  Tensor a = make<int32_t>({2, 2}, {0, 1, 2, 3});
  Tensor b = make<int32_t>({2, 1}, {8, 9});
  Tensor y = node.run1({a, b, scalar<int32_t>(-1)});
  EXPECT_EQ(y.shape(), (Shape{2, 3}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{0, 1, 8, 2, 3, 9}));
  Tensor c = make<int32_t>({1, 2}, {7, 7});
  Tensor z = node.run1({a, c, scalar<int32_t>(0)});
  EXPECT_EQ(values<int32_t>(z), (std::vector<int32_t>{0, 1, 2, 3, 7, 7}));
  Tensor e = node.run1({a, Tensor::allocate(TF_INT32, {2, 0}), scalar<int32_t>(1)});
  EXPECT_EQ(values<int32_t>(e), (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST(ConcatV2Test, MismatchedInputsAreInvalidArgument) {
  Node node("ConcatV2");
  node.attr("T", TF_INT32).attr("N", 2);
  EXPECT_EQ(run_error(node, {int_iota({2, 2}), int_iota({3, 1}), scalar<int32_t>(1)}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({2, 2}), int_iota({2}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({2, 2}), int_iota({2, 2}), scalar<int32_t>(2)}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(FillTest, ValuesAndErrors) {
  Node node("Fill");
  node.attr("T", TF_FLOAT);
  Tensor y = node.run1({ints({2, 3}), scalar(1.5f)});
  EXPECT_EQ(y.shape(), (Shape{2, 3}));
  EXPECT_EQ(values<float>(y), std::vector<float>(6, 1.5f));
  EXPECT_EQ(run_error(node, {ints({2, -3}), scalar(1.f)}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {ints({2}), make<float>({1}, {1.f})}).code(), TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
