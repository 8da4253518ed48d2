// ResizeBicubic and CropAndResize against hand-worked cases and the
// references of data/kernels/make_references_resize.py (PyTorch's bicubic
// for align_corners, NumPy evaluations of the documented methods otherwise).
#include <gtest/gtest.h>

#include "kernel_reference.h"

namespace qtf {
namespace {

using testing::ints;
using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

QTF_REFERENCE_SUITE(ResizeReferenceTest, MatchesReference, "cases_resize.txt", 2e-6f);

Node bicubic(bool align, bool half) {
  Node node("ResizeBicubic");
  node.attr("T", TF_FLOAT).attr("align_corners", align).attr("half_pixel_centers", half);
  return node;
}

TEST(ResizeBicubicTest, HandWorkedCoefficients) {
  const Tensor x = make<float>({1, 1, 4, 1}, {0, 0, 8, 0});
  // Legacy 4 -> 8: output 1 samples 0.5, between pixels 0 and 1; with
  // a = -0.75 the weights at distances 1.5, 0.5, 0.5, 1.5 are
  // -0.09375, 0.59375, 0.59375, -0.09375 (edge pixel repeated on the left).
  Node legacy = bicubic(false, false);
  Tensor y = legacy.run1({x, ints({1, 8})});
  EXPECT_FLOAT_EQ(values<float>(y)[1], 8 * -0.09375f);
  // 2.5 between pixels 2 and 3: 8 * 0.59375.
  EXPECT_FLOAT_EQ(values<float>(y)[5], 8 * 0.59375f);
  // Half-pixel 4 -> 8 (a = -0.5): output 0 samples -0.25, whose taps -2 and
  // -1 fall outside and are dropped; the rest renormalise.
  Node half = bicubic(false, true);
  Tensor z = half.run1({make<float>({1, 1, 4, 1}, {1, 1, 1, 1}), ints({1, 8})});
  for (float v : values<float>(z)) EXPECT_NEAR(v, 1.f, 1e-6f);
}

TEST(ResizeBicubicTest, IntegerInputAndErrors) {
  Node node("ResizeBicubic");
  node.attr("T", TF_UINT8).attr("align_corners", true);
  Tensor y = node.run1({make<uint8_t>({1, 1, 2, 1}, {0, 200}), ints({1, 3})});
  EXPECT_EQ(y.dtype(), TF_FLOAT);
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 100, 200}));
  EXPECT_EQ(bicubic(true, true).prepare().code(), TF_INVALID_ARGUMENT);
  Node f = bicubic(false, false);
  EXPECT_EQ(testing::run_error(f, {make<float>({1, 1, 1, 1}, {1}), ints({0, 2})}).code(),
            TF_INVALID_ARGUMENT);
}

Node crop(const char* method = "bilinear", float extrapolation = 0.f) {
  Node node("CropAndResize");
  node.attr("T", TF_FLOAT).attr("method", method).attr("extrapolation_value", extrapolation);
  return node;
}

TEST(CropAndResizeTest, HandWorked) {
  // 3x3 image 0..8. The full box at 3x3 is the image; the box [0, 0, 0.5,
  // 0.5] at 2x2 samples (0,0), (0,1), (1,0), (1,1); a box past the bottom
  // right takes the extrapolation value where it leaves the image.
  Tensor x = make<float>({1, 3, 3, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8});
  Node node = crop("bilinear", -1.f);
  Tensor y = node.run1({x, make<float>({3, 4}, {0, 0, 1, 1, 0, 0, 0.5f, 0.5f, 0.5f, 0.5f, 1.5f, 1.5f}),
                        ints({0, 0, 0}), ints({2, 2})});
  EXPECT_EQ(y.shape(), (Shape{3, 2, 2, 1}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 2, 6, 8, 0, 1, 3, 4, 4, -1, -1, -1}));
  // Nearest at a quarter pixel rounds to the closer one; a flipped box
  // samples backwards.
  Node nearest = crop("nearest");
  Tensor n = nearest.run1({x, make<float>({1, 4}, {1, 1, 0, 0}), ints({0}), ints({3, 3})});
  EXPECT_EQ(values<float>(n), (std::vector<float>{8, 7, 6, 5, 4, 3, 2, 1, 0}));
}

TEST(CropAndResizeTest, Errors) {
  Tensor x = make<float>({1, 2, 2, 1}, {1, 2, 3, 4});
  Tensor box = make<float>({1, 4}, {0, 0, 1, 1});
  Node node = crop();
  EXPECT_EQ(testing::run_error(node, {x, box, ints({1}), ints({2, 2})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(node, {x, box, ints({0, 0}), ints({2, 2})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(node, {x, make<float>({1, 3}, {0, 0, 1}), ints({0}), ints({2, 2})})
                .code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(node, {x, box, ints({0}), ints({0, 2})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(crop("bicubic").prepare().code(), TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
