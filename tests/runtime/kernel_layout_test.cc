// Layout kernels: Transpose, Unpack, Split, SplitV, Tile, Pad, PadV2,
// MirrorPad. Expected values were worked out with NumPy's transpose, tile
// and pad on the same small arrays.
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

TEST(TransposeTest, Permutations) {
  Node node("Transpose");
  node.attr("T", TF_INT32);
  Tensor y = node.run1({int_iota({2, 3, 4}), ints({2, 0, 1})});
  EXPECT_EQ(y.shape(), (Shape{4, 2, 3}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{0, 4, 8, 12, 16, 20, 1, 5, 9, 13, 17, 21,
                                                      2, 6, 10, 14, 18, 22, 3, 7, 11, 15, 19, 23}));
  Tensor z = node.run1({int_iota({2, 3, 4}), ints({1, 0, 2})});
  EXPECT_EQ(values<int32_t>(z), (std::vector<int32_t>{0, 1, 2, 3, 12, 13, 14, 15, 4, 5, 6, 7,
                                                      16, 17, 18, 19, 8, 9, 10, 11, 20, 21, 22, 23}));
  Node f64("Transpose");
  f64.attr("T", TF_DOUBLE);
  Tensor d = f64.run1({make<double>({2, 2}, {1, 2, 3, 4}), make<int64_t>({2}, {1, 0})});
  EXPECT_EQ(values<double>(d), (std::vector<double>{1, 3, 2, 4}));
}

TEST(TransposeTest, InvalidPermutations) {
  Node node("Transpose");
  node.attr("T", TF_INT32);
  for (const std::vector<int32_t>& perm :
       std::vector<std::vector<int32_t>>{{0, 0, 1}, {0, 1}, {0, 1, 3}, {-1, 0, 1}}) {
    EXPECT_EQ(run_error(node, {int_iota({2, 3, 4}), ints(perm)}).code(), TF_INVALID_ARGUMENT);
  }
}

TEST(UnpackTest, AlongEachAxis) {
  Node node("Unpack");
  node.attr("T", TF_INT32).attr("num", 3).attr("axis", 1);
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run({int_iota({2, 3})}, &out).is_ok());
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].shape(), (Shape{2}));
  EXPECT_EQ(values<int32_t>(out[1]), (std::vector<int32_t>{1, 4}));
  Node first("Unpack");
  first.attr("T", TF_INT32).attr("num", 2);
  ASSERT_TRUE(first.run({int_iota({2, 3})}, &out).is_ok());
  EXPECT_EQ(values<int32_t>(out[1]), (std::vector<int32_t>{3, 4, 5}));
  EXPECT_EQ(run_error(first, {int_iota({3, 2})}).code(), TF_INVALID_ARGUMENT);
}

TEST(SplitTest, EqualPiecesAndUnevenError) {
  Node node("Split");
  node.attr("T", TF_INT32).attr("num_split", 2);
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run({scalar<int32_t>(-1), int_iota({2, 4})}, &out).is_ok());
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].shape(), (Shape{2, 2}));
  EXPECT_EQ(values<int32_t>(out[0]), (std::vector<int32_t>{0, 1, 4, 5}));
  EXPECT_EQ(values<int32_t>(out[1]), (std::vector<int32_t>{2, 3, 6, 7}));
  EXPECT_EQ(run_error(node, {scalar<int32_t>(0), int_iota({3, 4})}).code(), TF_INVALID_ARGUMENT);
}

TEST(SplitVTest, SizesWithInferredPieceAndErrors) {
  Node node("SplitV");
  node.attr("T", TF_INT32).attr("num_split", 3);
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run({int_iota({6, 1}), make<int64_t>({3}, {1, -1, 2}), scalar<int32_t>(0)}, &out).is_ok());
  EXPECT_EQ(values<int32_t>(out[0]), (std::vector<int32_t>{0}));
  EXPECT_EQ(values<int32_t>(out[1]), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(values<int32_t>(out[2]), (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(run_error(node, {int_iota({6}), make<int64_t>({3}, {1, 1, 1}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({6}), make<int64_t>({3}, {-1, -1, 1}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({6}), make<int64_t>({3}, {5, -1, 3}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({6}), make<int64_t>({2}, {3, 3}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(TileTest, RepeatsAndErrors) {
  Node node("Tile");
  node.attr("T", TF_INT32);
  Tensor y = node.run1({int_iota({2, 3}), ints({2, 2})});
  EXPECT_EQ(y.shape(), (Shape{4, 6}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{0, 1, 2, 0, 1, 2, 3, 4, 5, 3, 4, 5,
                                                      0, 1, 2, 0, 1, 2, 3, 4, 5, 3, 4, 5}));
  EXPECT_EQ(node.run1({int_iota({2, 3}), ints({0, 1})}).shape(), (Shape{0, 3}));
  EXPECT_EQ(run_error(node, {int_iota({2, 3}), ints({2})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(node, {int_iota({2, 3}), ints({-1, 1})}).code(), TF_INVALID_ARGUMENT);
}

TEST(PadTest, ConstantModes) {
  Node pad("Pad");
  pad.attr("T", TF_INT32);
  Tensor y = pad.run1({int_iota({2, 3}), make<int32_t>({2, 2}, {1, 0, 0, 2})});
  EXPECT_EQ(y.shape(), (Shape{3, 5}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 3, 4, 5, 0, 0}));
  Node v2("PadV2");
  v2.attr("T", TF_FLOAT);
  Tensor z = v2.run1({make<float>({2}, {1, 2}), make<int64_t>({1, 2}, {1, 1}), scalar(-1.f)});
  EXPECT_EQ(values<float>(z), (std::vector<float>{-1, 1, 2, -1}));
  EXPECT_EQ(run_error(pad, {int_iota({2, 3}), make<int32_t>({2, 2}, {-1, 0, 0, 0})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(pad, {int_iota({2, 3}), make<int32_t>({1, 2}, {1, 1})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(v2, {make<float>({2}, {1, 2}), make<int32_t>({1, 2}, {1, 1}),
                           make<float>({2}, {0, 0})}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(MirrorPadTest, ReflectAndSymmetric) {
  Node reflect("MirrorPad");
  reflect.attr("T", TF_INT32).attr("mode", "REFLECT");
  Tensor r = reflect.run1({int_iota({2, 3}), make<int32_t>({2, 2}, {1, 1, 2, 2})});
  EXPECT_EQ(r.shape(), (Shape{4, 7}));
  EXPECT_EQ(values<int32_t>(r), (std::vector<int32_t>{5, 4, 3, 4, 5, 4, 3, 2, 1, 0, 1, 2, 1, 0,
                                                      5, 4, 3, 4, 5, 4, 3, 2, 1, 0, 1, 2, 1, 0}));
  Node symmetric("MirrorPad");
  symmetric.attr("T", TF_INT32).attr("mode", "SYMMETRIC");
  Tensor s = symmetric.run1({int_iota({2, 3}), make<int32_t>({2, 2}, {1, 1, 2, 3})});
  EXPECT_EQ(s.shape(), (Shape{4, 8}));
  EXPECT_EQ(values<int32_t>(s),
            (std::vector<int32_t>{1, 0, 0, 1, 2, 2, 1, 0, 1, 0, 0, 1, 2, 2, 1, 0,
                                  4, 3, 3, 4, 5, 5, 4, 3, 4, 3, 3, 4, 5, 5, 4, 3}));
  // REFLECT cannot mirror more than n-1 values; SYMMETRIC no more than n.
  EXPECT_EQ(run_error(reflect, {int_iota({2, 3}), make<int32_t>({2, 2}, {2, 0, 0, 0})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(symmetric, {int_iota({2, 3}), make<int32_t>({2, 2}, {0, 3, 0, 0})}).code(),
            TF_INVALID_ARGUMENT);
  Node bad("MirrorPad");
  bad.attr("T", TF_INT32).attr("mode", "WRAP");
  EXPECT_EQ(bad.prepare().code(), TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
