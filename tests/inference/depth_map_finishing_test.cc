#include "inference/depth_map_finishing.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

namespace quarrow {
namespace {

constexpr double kPi = 3.141592653589793;

// A map whose rows are all different, so that a row read from the wrong place shows.
cv::Mat ramp(int rows, int cols) {
  cv::Mat depth(rows, cols, CV_32FC1);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) depth.at<float>(r, c) = 3.0f + 0.25f * r + 0.001f * c;
  }
  return depth;
}

std::uint32_t bits(float value) {
  std::uint32_t b;
  std::memcpy(&b, &value, 4);
  return b;
}

// The band row at edge distance k from its reference value, worked out here:
// angle k / (256 pi) in single precision, reference angle 1 / (16 pi).
float expected_band_value(float reference, int k) {
  const float reference_angle = static_cast<float>(1.0 / (16.0 * kPi));
  const float angle = static_cast<float>(k / 256.0 / kPi);
  const float scaled = std::cos(reference_angle) * reference;
  return scaled / std::cos(angle);
}

bool rows_equal(const cv::Mat& a, const cv::Mat& b, int first, int end) {
  for (int r = first; r < end; ++r) {
    if (std::memcmp(a.ptr(r), b.ptr(r), a.cols * sizeof(float)) != 0) return false;
  }
  return true;
}

TEST(FinishDepthMapTest, ReferenceAngleIsOneOverSixteenPi) {
  EXPECT_EQ(bits(static_cast<float>(1.0 / (16.0 * kPi))), 0x3CA2F983u);
}

TEST(FinishDepthMapTest, BandRatiosFollowEdgeDistance) {
  // Cosine ratio of each band row, against its double-precision value.
  struct Case {
    int k;
    double ratio;
  };
  const Case cases[] = {{1, 0.999803}, {8, 0.999852}, {15, 0.999976}, {16, 1.0}};
  cv::Mat depth(256, 512, CV_32FC1, cv::Scalar(1.0f));
  finish_depth_map(depth, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.k);
    const double exact = std::cos(1.0 / (16.0 * kPi)) / std::cos(c.k / (256.0 * kPi));
    EXPECT_NEAR(exact, c.ratio, 5e-7);
    const float bottom = depth.at<float>(256 - c.k, 7);  // bottom row at distance k
    const float top = depth.at<float>(c.k - 1, 7);      // top row at distance k
    EXPECT_NEAR(bottom, exact, 2e-7);
    EXPECT_EQ(bits(bottom), bits(top));
    EXPECT_EQ(bits(bottom), bits(expected_band_value(1.0f, c.k)));
  }
}

TEST(FinishDepthMapTest, BottomBandOnly) {
  const cv::Mat original = ramp(256, 512);
  cv::Mat depth = original.clone();
  finish_depth_map(depth, false);
  EXPECT_TRUE(rows_equal(depth, original, 0, 240));
  for (int r = 240; r < 256; ++r) {
    for (int c = 0; c < 512; c += 37) {
      ASSERT_EQ(bits(depth.at<float>(r, c)),
                bits(expected_band_value(original.at<float>(239, c), 256 - r)))
          << r << "," << c;
    }
  }
  // Row 240 (k = 16) is row 239 up to the rounding of multiply-then-divide.
  EXPECT_FLOAT_EQ(depth.at<float>(240, 100), original.at<float>(239, 100));
}

TEST(FinishDepthMapTest, BothBands) {
  const cv::Mat original = ramp(256, 512);
  cv::Mat depth = original.clone();
  finish_depth_map(depth, true);
  EXPECT_TRUE(rows_equal(depth, original, 16, 240));
  for (int c = 0; c < 512; c += 41) {
    for (int r = 0; r < 16; ++r) {
      ASSERT_EQ(bits(depth.at<float>(r, c)),
                bits(expected_band_value(original.at<float>(16, c), r + 1)));
    }
    for (int r = 240; r < 256; ++r) {
      ASSERT_EQ(bits(depth.at<float>(r, c)),
                bits(expected_band_value(original.at<float>(239, c), 256 - r)));
    }
  }
}

TEST(FinishDepthMapTest, SmallHeights) {
  // H = 16: one-row bands, each from its neighbour with k = 1.
  const cv::Mat original16 = ramp(16, 8);
  cv::Mat depth16 = original16.clone();
  finish_depth_map(depth16, true);
  EXPECT_TRUE(rows_equal(depth16, original16, 1, 15));
  EXPECT_EQ(bits(depth16.at<float>(0, 3)), bits(expected_band_value(original16.at<float>(1, 3), 1)));
  EXPECT_EQ(bits(depth16.at<float>(15, 3)),
            bits(expected_band_value(original16.at<float>(14, 3), 1)));

  // H = 15: no band at all.
  const cv::Mat original15 = ramp(15, 8);
  cv::Mat depth15 = original15.clone();
  finish_depth_map(depth15, true);
  EXPECT_TRUE(rows_equal(depth15, original15, 0, 15));
}

TEST(FinishDepthMapTest, ZeroReferenceRowGivesZeroBand) {
  cv::Mat depth = ramp(256, 512);
  depth.row(239).setTo(0.0f);
  finish_depth_map(depth, false);
  EXPECT_EQ(cv::countNonZero(depth.rowRange(239, 256)), 0);

  cv::Mat zeros = cv::Mat::zeros(256, 512, CV_32FC1);
  finish_depth_map(zeros, true);
  EXPECT_EQ(cv::countNonZero(zeros), 0);
}

TEST(FinishDepthMapTest, WrongTypeIsReportedAndLeftAlone) {
  for (const int type : {CV_64FC1, CV_8UC1, CV_32FC3}) {
    SCOPED_TRACE(type);
    cv::Mat depth(256, 512, type, cv::Scalar::all(7));
    const cv::Mat original = depth.clone();
    testing::internal::CaptureStderr();
    finish_depth_map(depth, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Wrong depth map type, it should be CV_32F\n");
    EXPECT_EQ(cv::norm(depth, original, cv::NORM_INF), 0.0);
  }
}

}  // namespace
}  // namespace quarrow
