// ScaleAndTranslate against hand-worked cases and the references of
// data/kernels/make_references_scale_and_translate.py (a dense float64
// evaluation of the sampling formula, and PyTorch's antialiased bilinear and
// bicubic interpolation for the triangle and Keys cubic kernels).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel_reference.h"

namespace qtf {
namespace {

using testing::ints;
using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

Tensor floats(std::vector<float> v) {
  const int64_t n = static_cast<int64_t>(v.size());
  return make<float>({n}, std::move(v));
}

Node resampler(const char* kernel_type, bool antialias = true, DataType dtype = TF_FLOAT) {
  Node node("ScaleAndTranslate");
  node.attr("T", dtype).attr("kernel_type", kernel_type).attr("antialias", antialias);
  return node;
}

// Within 1e-5 of the largest expected magnitude (uint8 images give outputs
// in the hundreds).
void expect_matches(const Tensor& got, const Tensor& want, const std::string& what) {
  ASSERT_EQ(got.dtype(), TF_FLOAT) << what;
  ASSERT_EQ(got.shape(), want.shape()) << what;
  float largest = 1.f;
  for (float v : values<float>(want)) largest = std::max(largest, std::fabs(v));
  const float tolerance = 1e-5f * largest;
  int bad = 0;
  for (int64_t i = 0; i < want.num_elements(); ++i) {
    const float g = got.data<float>()[i], w = want.data<float>()[i];
    if (!(std::fabs(g - w) <= tolerance) && ++bad <= 5) {
      ADD_FAILURE() << what << " element " << i << ": " << g << " vs " << w;
    }
  }
}

class ScaleAndTranslateReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(ScaleAndTranslateReferenceTest, MatchesReference) {
  const ReferenceCase& c = GetParam();
  const std::vector<Tensor> inputs = testing::load_inputs(c);
  const std::vector<Tensor> want = testing::reference_outputs(c.name);
  ASSERT_EQ(want.size(), 1u);
  Node node = testing::make_node(c);
  // The second run reuses the kernel made by the first.
  for (int run = 0; run < 2; ++run) expect_matches(node.run1(inputs), want[0], c.name);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ScaleAndTranslateReferenceTest,
                         ::testing::ValuesIn(load_cases("cases_scale_and_translate.txt")),
                         testing::case_name);

TEST(ScaleAndTranslateTest, DefaultsAreLanczos3WithAntialias) {
  // The reference case names both attrs; a node that names neither must
  // give the same result from the op's defaults.
  for (const ReferenceCase& c : load_cases("cases_scale_and_translate.txt")) {
    if (c.name != "sat_lanczos3_down") continue;
    Node node("ScaleAndTranslate");
    node.attr("T", TF_FLOAT);
    const std::vector<Tensor> want = testing::reference_outputs(c.name);
    ASSERT_EQ(want.size(), 1u);
    expect_matches(node.run1(testing::load_inputs(c)), want[0], c.name);
    return;
  }
  FAIL() << "case sat_lanczos3_down is missing";
}

TEST(ScaleAndTranslateTest, HandWorkedTriangle) {
  // 2 -> 4 samples 0.25, 0.75, 1.25, 1.75: the outer two only reach one
  // pixel (its weight renormalised to 1), the inner two mix 3:1 and 1:3.
  Node up = resampler("triangle");
  Tensor y = up.run1({make<float>({1, 1, 2, 1}, {0, 8}), ints({1, 4}), floats({1, 2}),
                      floats({0, 0})});
  EXPECT_EQ(y.shape(), (Shape{1, 1, 4, 1}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 2, 6, 8}));
  // 4 -> 2 samples 1 and 3. Antialiased, the triangle is two pixels wide:
  // at 1 the pixels 0, 1, 2 weigh 0.75, 0.75, 0.25 (of 1.75); at 3 the
  // pixels 1, 2, 3 weigh 0.25, 0.75, 0.75. Without it only the two
  // neighbours count, half each.
  const Tensor x = make<float>({1, 1, 4, 1}, {1, 3, 5, 11});
  Node wide = resampler("triangle", true);
  const std::vector<float> y_wide =
      values<float>(wide.run1({x, ints({1, 2}), floats({1, 0.5f}), floats({0, 0})}));
  ASSERT_EQ(y_wide.size(), 2u);
  EXPECT_FLOAT_EQ(y_wide[0], 4.25f / 1.75f);
  EXPECT_FLOAT_EQ(y_wide[1], 12.75f / 1.75f);
  Node narrow = resampler("triangle", false);
  EXPECT_EQ(values<float>(narrow.run1({x, ints({1, 2}), floats({1, 0.5f}), floats({0, 0})})),
            (std::vector<float>{2, 8}));
}

TEST(ScaleAndTranslateTest, HandWorkedTranslationAndBox) {
  // Scale 1, translation +1 along W: output x samples x - 0.5, so output 0
  // falls off the image (0) and the rest copy the pixel to the left; -1
  // shifts the other way and the last output samples 3.5 > 3.
  const Tensor x = make<float>({1, 1, 3, 1}, {4, 5, 6});
  Node node = resampler("triangle");
  EXPECT_EQ(values<float>(node.run1({x, ints({1, 3}), floats({1, 1}), floats({0, 1})})),
            (std::vector<float>{0, 4, 5}));
  EXPECT_EQ(values<float>(node.run1({x, ints({1, 3}), floats({1, 1}), floats({0, -1})})),
            (std::vector<float>{5, 6, 0}));
  // Antialiased box 4 -> 2 along H averages pixel pairs, each channel on
  // its own (C = 2).
  Node box = resampler("box");
  Tensor y = box.run1({make<float>({1, 4, 1, 2}, {1, 10, 3, 20, 5, 30, 11, 40}), ints({2, 1}),
                       floats({0.5f, 1}), floats({0, 0})});
  EXPECT_EQ(values<float>(y), (std::vector<float>{2, 15, 8, 35}));
}

TEST(ScaleAndTranslateTest, IntegerImagesAndEmptyBatch) {
  Node node = resampler("triangle", true, TF_UINT8);
  Tensor y = node.run1({make<uint8_t>({1, 1, 2, 1}, {0, 200}), ints({1, 4}), floats({1, 2}),
                        floats({0, 0})});
  EXPECT_EQ(y.dtype(), TF_FLOAT);
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 50, 150, 200}));
  Node empty = resampler("lanczos3");
  Tensor z = empty.run1({Tensor::allocate(TF_FLOAT, {0, 3, 3, 2}), ints({5, 4}),
                         floats({5.f / 3, 4.f / 3}), floats({0, 0})});
  EXPECT_EQ(z.shape(), (Shape{0, 5, 4, 2}));
}

TEST(ScaleAndTranslateTest, BatchSplitAcrossThreadsMatchesImageByImage) {
  // 8 images are enough work to split across the pool; each one alone is
  // not, so this compares the threaded rows with the serial ones.
  const int64_t n = 8, h = 30, w = 30, c = 4;
  Tensor x = Tensor::allocate(TF_FLOAT, {n, h, w, c});
  for (int64_t i = 0; i < x.num_elements(); ++i) {
    x.data<float>()[i] = static_cast<float>((i * 7919) % 257) / 64.f - 2.f;
  }
  const Tensor size = ints({40, 40}), scale = floats({4.f / 3, 4.f / 3}), shift = floats({0.3f, 0});
  Node node = resampler("keyscubic");
  const Tensor all = node.run1({x, size, scale, shift});
  const int64_t per_image_in = h * w * c, per_image_out = 40 * 40 * c;
  for (int64_t b = 0; b < n; ++b) {
    Tensor one = Tensor::allocate(TF_FLOAT, {1, h, w, c});
    std::copy(x.data<float>() + b * per_image_in, x.data<float>() + (b + 1) * per_image_in,
              one.data<float>());
    const Tensor y = node.run1({one, size, scale, shift});
    ASSERT_EQ(y.num_elements(), per_image_out);
    EXPECT_TRUE(std::equal(y.data<float>(), y.data<float>() + per_image_out,
                           all.data<float>() + b * per_image_out))
        << "image " << b;
  }
}

TEST(ScaleAndTranslateTest, RefusesBadInputs) {
  const Tensor x = make<float>({1, 2, 2, 1}, {1, 2, 3, 4});
  const Tensor size = ints({3, 3}), scale = floats({1.5f, 1.5f}), shift = floats({0, 0});
  Node node = resampler("lanczos3");
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::vector<Tensor>> bad = {
      {make<float>({2, 2, 1}, {1, 2, 3, 4}), size, scale, shift},   // rank 3
      {Tensor::allocate(TF_FLOAT, {1, 0, 2, 1}), size, scale, shift},  // no rows
      {make<uint8_t>({1, 2, 2, 1}, {1, 2, 3, 4}), size, scale, shift},  // not T
      {x, ints({3, 0}), scale, shift},
      {x, ints({3, -2}), scale, shift},
      {x, ints({3, 3, 3}), scale, shift},
      {x, make<int64_t>({2}, {3, 3}), scale, shift},
      {x, size, floats({0, 1.5f}), shift},
      {x, size, floats({1.5f, -1}), shift},
      {x, size, floats({nan, 1}), shift},
      {x, size, floats({1.5f}), shift},
      {x, size, scale, floats({0, nan})},
      {x, size, scale, floats({0, std::numeric_limits<float>::infinity()})},
      {x, size, scale, make<int32_t>({2}, {0, 0})},
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(testing::run_error(node, bad[i]).code(), TF_INVALID_ARGUMENT) << "case " << i;
  }
  // The node still works after refusing.
  EXPECT_EQ(node.run1({x, size, scale, shift}).shape(), (Shape{1, 3, 3, 1}));
  Status unknown = resampler("bicubic").prepare();
  EXPECT_EQ(unknown.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(unknown.message().find("bicubic"), std::string::npos) << unknown.message();
  EXPECT_EQ(resampler("box", true, TF_BOOL).prepare().code(), TF_UNIMPLEMENTED);
}

TEST(ScaleAndTranslateTest, TinyScaleStretchesOverTheWholeImage) {
  // Scale 1e-30 antialiased: the kernel covers every pixel (the span must
  // be clamped before it is made an integer), and the one output that
  // samples inside the image averages it evenly under a box.
  Node node = resampler("box");
  Tensor y = node.run1({make<float>({1, 1, 4, 1}, {1, 2, 3, 6}), ints({1, 1}), floats({1, 1e-30f}),
                        floats({0, 0.5f})});
  EXPECT_EQ(values<float>(y), (std::vector<float>{3}));
}

}  // namespace
}  // namespace qtf
