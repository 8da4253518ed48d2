// NN kernels: Conv2D, MaxPool, AvgPool, BiasAdd and the resize ops, checked
// against hand-worked cases and against references written by
// data/kernels/make_references.py.
#include <gtest/gtest.h>

#include <set>

#include "kernel_reference.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::values;

using testing::load_cases;
using testing::ReferenceCase;

QTF_REFERENCE_SUITE(ReferenceTest, MatchesReference, "cases.txt", 1e-5f);

TEST(ReferenceFixturesTest, CoverEveryFamily) {
  std::set<std::string> ops;
  for (const ReferenceCase& c : load_cases("cases.txt")) ops.insert(c.op);
  for (const char* op : {"Conv2D", "MaxPool", "AvgPool", "ResizeBilinear", "ResizeNearestNeighbor",
                         "DepthwiseConv2dNative", "Conv2DBackpropInput",
                         "DepthwiseConv2dNativeBackpropInput"}) {
    EXPECT_TRUE(ops.count(op)) << op << " has no reference case in " << testing::reference_dir();
  }
}

Tensor ramp3x3() { return make<float>({1, 3, 3, 1}, {1, 2, 3, 4, 5, 6, 7, 8, 9}); }

Node conv(const char* padding, std::initializer_list<int64_t> strides = {1, 1, 1, 1}) {
  Node node("Conv2D");
  node.attr("T", TF_FLOAT).attr("padding", padding).attr("strides", strides);
  return node;
}

TEST(Conv2DTest, HandWorkedValidAndSameWithOddPaddingAtTheEnd) {
  Tensor ones = make<float>({2, 2, 1, 1}, {1, 1, 1, 1});
  Node valid = conv("VALID");
  Tensor v = valid.run1({ramp3x3(), ones});
  EXPECT_EQ(v.shape(), (Shape{1, 2, 2, 1}));
  EXPECT_EQ(values<float>(v), (std::vector<float>{12, 16, 24, 28}));
  // 2x2 SAME pads one row/column, after the data: the last row and column
  // only see their own pixels and the ones to the right/below.
  Node same = conv("SAME");
  EXPECT_EQ(values<float>(same.run1({ramp3x3(), ones})),
            (std::vector<float>{12, 16, 9, 24, 28, 15, 15, 17, 9}));
  Node strided = conv("SAME", {1, 2, 2, 1});
  Tensor s = strided.run1({ramp3x3(), ones});
  EXPECT_EQ(s.shape(), (Shape{1, 2, 2, 1}));
  EXPECT_EQ(values<float>(s), (std::vector<float>{12, 9, 15, 9}));
}

TEST(Conv2DTest, SecondRunCreatesNoPrimitiveAndNewFilterIsUsed) {
  Node node = conv("SAME");
  Tensor f1 = make<float>({2, 2, 1, 1}, {1, 1, 1, 1});
  node.run1({ramp3x3(), f1});
  const int64_t after_first = dnnl_primitives_created();
  Tensor again = node.run1({ramp3x3(), f1});
  EXPECT_EQ(dnnl_primitives_created(), after_first);
  EXPECT_EQ(values<float>(again)[0], 12);
  // Another filter buffer (a reassigned variable) is reordered again.
  Tensor f2 = make<float>({2, 2, 1, 1}, {1, 0, 0, 0});
  EXPECT_EQ(values<float>(node.run1({ramp3x3(), f2})),
            (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(dnnl_primitives_created(), after_first + 1);
  // A new input shape gets its own primitive.
  node.run1({make<float>({1, 2, 2, 1}, {1, 2, 3, 4}), f2});
  EXPECT_GT(dnnl_primitives_created(), after_first + 1);
}

TEST(Conv2DTest, BadInputsAreInvalidArgument) {
  Node node = conv("SAME");
  Tensor f = make<float>({2, 2, 1, 1}, {1, 1, 1, 1});
  std::vector<Tensor> out;
  Status rank = node.run({make<float>({3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9}), f}, &out);
  EXPECT_EQ(rank.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(rank.message().find("Conv2D node 'test/Conv2D'"), std::string::npos);
  Tensor f2 = make<float>({1, 1, 2, 1}, {1, 1});
  EXPECT_EQ(node.run({ramp3x3(), f2}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({make<int32_t>({1, 1, 1, 1}, {1}), f}, &out).code(), TF_INVALID_ARGUMENT);
  Node too_big = conv("VALID");
  EXPECT_EQ(too_big.run({ramp3x3(), make<float>({4, 4, 1, 1}, std::vector<float>(16, 1))}, &out)
                .code(),
            TF_INVALID_ARGUMENT);
}

TEST(Conv2DTest, UnsupportedAttrsAreRefusedAtPrepare) {
  Node nchw = conv("SAME");
  nchw.attr("data_format", "NCHW");
  EXPECT_EQ(nchw.prepare().code(), TF_UNIMPLEMENTED);
  Node batch_stride = conv("SAME", {2, 1, 1, 1});
  EXPECT_EQ(batch_stride.prepare().code(), TF_INVALID_ARGUMENT);
  Node ints = conv("SAME");
  ints.attr("T", TF_INT32);
  EXPECT_EQ(ints.prepare().code(), TF_UNIMPLEMENTED);
  Node bad_padding = conv("FULL");
  EXPECT_EQ(bad_padding.prepare().code(), TF_INVALID_ARGUMENT);
  Node explicit_batch = conv("EXPLICIT");
  explicit_batch.attr("explicit_paddings", {1, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(explicit_batch.prepare().code(), TF_INVALID_ARGUMENT);
}

TEST(MaxPoolTest, HandWorkedAndErrors) {
  Node node("MaxPool");
  node.attr("ksize", {1, 2, 2, 1}).attr("strides", {1, 2, 2, 1}).attr("padding", "SAME");
  // Default T (float) comes from the OpDef. The odd last row/column pools alone.
  Tensor y = node.run1({ramp3x3()});
  EXPECT_EQ(values<float>(y), (std::vector<float>{5, 6, 8, 9}));
  Tensor negative = make<float>({1, 3, 3, 1}, {-9, -8, -7, -6, -5, -4, -3, -2, -1});
  EXPECT_EQ(values<float>(node.run1({negative})), (std::vector<float>{-5, -4, -2, -1}));
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({make<float>({3, 3}, std::vector<float>(9, 0))}, &out).code(),
            TF_INVALID_ARGUMENT);
  Node bad_ksize("MaxPool");
  bad_ksize.attr("ksize", {2, 2, 2, 1}).attr("strides", {1, 1, 1, 1}).attr("padding", "VALID");
  EXPECT_EQ(bad_ksize.prepare().code(), TF_INVALID_ARGUMENT);
}

TEST(BiasAddTest, AddsAlongChannelsAndChecksShape) {
  Node node("BiasAdd");
  node.attr("T", TF_FLOAT);
  Tensor x = make<float>({1, 2, 1, 3}, {1, 2, 3, 4, 5, 6});
  Tensor y = node.run1({x, make<float>({3}, {10, 20, 30})});
  EXPECT_EQ(values<float>(y), (std::vector<float>{11, 22, 33, 14, 25, 36}));
  EXPECT_EQ(values<float>(x), (std::vector<float>{1, 2, 3, 4, 5, 6}));  // shared: untouched
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({x, make<float>({2}, {1, 2})}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({make<float>({3}, {1, 2, 3}), make<float>({3}, {1, 2, 3})}, &out).code(),
            TF_INVALID_ARGUMENT);
}

TEST(ResizeTest, NearestHandWorkedModes) {
  Tensor x = make<float>({1, 2, 2, 1}, {1, 2, 3, 4});
  Tensor size = make<int32_t>({2}, {3, 3});
  struct Case { bool align, half; std::vector<float> want; };
  // legacy: src = floor(i * 2/3) = 0,0,1; align: round(i * 1/2) = 0,1,1;
  // half: floor((i + .5) * 2/3) = 0,1,1
  const Case cases[] = {
      {false, false, {1, 1, 2, 1, 1, 2, 3, 3, 4}},
      {true, false, {1, 2, 2, 3, 4, 4, 3, 4, 4}},
      {false, true, {1, 2, 2, 3, 4, 4, 3, 4, 4}},
  };
  for (const Case& c : cases) {
    Node node("ResizeNearestNeighbor");
    node.attr("T", TF_FLOAT).attr("align_corners", c.align).attr("half_pixel_centers", c.half);
    EXPECT_EQ(values<float>(node.run1({x, size})), c.want) << c.align << c.half;
  }
}

TEST(ResizeTest, BilinearOfIntegersGivesFloat) {
  Node node("ResizeBilinear");
  node.attr("T", TF_UINT8).attr("align_corners", true);
  Tensor y = node.run1({make<uint8_t>({1, 1, 2, 1}, {0, 200}), make<int32_t>({2}, {1, 5})});
  EXPECT_EQ(y.dtype(), TF_FLOAT);
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 50, 100, 150, 200}));
}

TEST(ResizeTest, ErrorPaths) {
  Node both("ResizeBilinear");
  both.attr("T", TF_FLOAT).attr("align_corners", true).attr("half_pixel_centers", true);
  EXPECT_EQ(both.prepare().code(), TF_INVALID_ARGUMENT);
  Node node("ResizeBilinear");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  Tensor x = make<float>({1, 2, 2, 1}, {1, 2, 3, 4});
  EXPECT_EQ(node.run({x, make<int32_t>({2}, {0, 3})}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({x, make<int32_t>({3}, {1, 3, 3})}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({make<float>({2, 2}, {1, 2, 3, 4}), make<int32_t>({2}, {3, 3})}, &out).code(),
            TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
