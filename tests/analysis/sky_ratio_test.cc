#include "analysis/sky_ratio.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace quarrow {
namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 256;
constexpr int kSide = 128;

// Where the zenith-face samples land, worked out here from the plain formulas:
// ray ((j - 64) / 64, (i - 64) / 64, 1), turned into the world by the transposed
// rotation about x by -pi/2, then longitude and latitude.
struct ZenithHits {
  std::vector<int> per_pixel = std::vector<int>(kWidth * kHeight, 0);
  // Pixels next to a sample that lies on a pixel boundary (within rounding):
  // which side such a sample falls on depends on the last bit of the
  // arithmetic, so they are not used to build exact counts.
  std::vector<bool> ambiguous = std::vector<bool>(kWidth * kHeight, false);
};

ZenithHits zenith_hits() {
  const double pi = 3.141592653589793;
  const double c = std::cos(-pi / 2);
  const double s = std::sin(-pi / 2);
  ZenithHits hits;
  for (int i = 0; i < kSide; ++i) {
    for (int j = 0; j < kSide; ++j) {
      const double rx = (j - 64) / 64.0;
      const double ry = (i - 64) / 64.0;
      const double rz = 1.0;
      // Transpose of [[1, 0, 0], [0, c, -s], [0, s, c]].
      const double x = rx;
      const double y = c * ry + s * rz;
      const double z = -s * ry + c * rz;
      const double longitude = std::atan2(x, z);
      const double latitude = std::atan2(-y, std::hypot(x, z));
      const double u = kWidth * longitude / (2 * pi) + kWidth / 2.0;
      const double v = -kWidth * latitude / (2 * pi) + kHeight / 2.0;
      const int column = std::clamp(static_cast<int>(u), 0, kWidth - 1);
      const int row = std::clamp(static_cast<int>(v), 0, kHeight - 1);
      ++hits.per_pixel[row * kWidth + column];
      const bool on_column_edge = std::abs(u - std::round(u)) < 1e-6;
      const bool on_row_edge = std::abs(v - std::round(v)) < 1e-6;
      if (on_column_edge || on_row_edge) {
        for (int dr = -1; dr <= 1; ++dr) {
          for (int dc = -1; dc <= 1; ++dc) {
            const int r = std::clamp(row + dr, 0, kHeight - 1);
            const int col = (column + dc + kWidth) % kWidth;
            hits.ambiguous[r * kWidth + col] = true;
          }
        }
      }
    }
  }
  return hits;
}

// Marks pixels as sky until exactly `target` samples are covered, using only
// pixels whose samples lie clear of every pixel boundary.
cv::Mat mask_covering(const ZenithHits& hits, int target) {
  cv::Mat mask = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  int covered = 0;
  for (int wanted = 1; wanted <= 64 && covered < target; ++wanted) {
    for (int row = 0; row < kHeight && covered < target; ++row) {
      for (int column = 0; column < kWidth && covered < target; ++column) {
        const int index = row * kWidth + column;
        const int h = hits.per_pixel[index];
        if (h > 0 && h <= wanted && !hits.ambiguous[index] &&
            mask.at<std::uint8_t>(row, column) == 0 && covered + h <= target) {
          mask.at<std::uint8_t>(row, column) = 1;
          covered += h;
        }
      }
    }
  }
  EXPECT_EQ(covered, target);
  return mask;
}

TEST(ZenithSkyRatioTest, WholeAndEmptyMasks) {
  EXPECT_EQ(zenith_sky_ratio(cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(1))), 100.0f);
  EXPECT_EQ(zenith_sky_ratio(cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(255))), 100.0f);
  EXPECT_EQ(zenith_sky_ratio(cv::Mat::zeros(kHeight, kWidth, CV_8UC1)), 0.0f);
}

TEST(ZenithSkyRatioTest, SamplesReachRowsZeroTo77Only) {
  cv::Mat top = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  top.rowRange(0, 78).setTo(1);
  EXPECT_EQ(zenith_sky_ratio(top), 100.0f);

  cv::Mat bottom = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  bottom.rowRange(78, kHeight).setTo(1);
  EXPECT_EQ(zenith_sky_ratio(bottom), 0.0f);

  // Row 77 alone is reached (by the face corners).
  cv::Mat row77 = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  row77.row(77).setTo(1);
  EXPECT_GT(zenith_sky_ratio(row77), 0.0f);
}

TEST(ZenithSkyRatioTest, IndependentSampleCountTotalsTheFace) {
  const ZenithHits hits = zenith_hits();
  int total = 0;
  int deepest_row = 0;
  for (int i = 0; i < kWidth * kHeight; ++i) {
    total += hits.per_pixel[i];
    if (hits.per_pixel[i] > 0) deepest_row = std::max(deepest_row, i / kWidth);
  }
  EXPECT_EQ(total, kSide * kSide);
  EXPECT_EQ(deepest_row, 77);
}

TEST(ZenithSkyRatioTest, HalfTheSamplesIsExactlyFiftyAndOneMoreIsOutdoor) {
  const ZenithHits hits = zenith_hits();
  const cv::Mat half = mask_covering(hits, 8192);
  const cv::Mat above_half = mask_covering(hits, 8193);
  const float half_ratio = zenith_sky_ratio(half);
  const float above_ratio = zenith_sky_ratio(above_half);
  EXPECT_EQ(half_ratio, 50.0f);
  EXPECT_EQ(above_ratio, 50.006103515625f);
  EXPECT_FALSE(is_outdoor_scene(half_ratio));
  EXPECT_TRUE(is_outdoor_scene(above_ratio));
}

TEST(ZenithSkyRatioTest, SinglePixelCountsItsSamples) {
  const ZenithHits hits = zenith_hits();
  // The unambiguous pixel with the most samples.
  int best = -1;
  for (int index = 0; index < kWidth * kHeight; ++index) {
    if (!hits.ambiguous[index] && (best < 0 || hits.per_pixel[index] > hits.per_pixel[best])) {
      best = index;
    }
  }
  const int row = best / kWidth;
  const int column = best % kWidth;
  const int samples = hits.per_pixel[best];
  ASSERT_GT(samples, 1);
  cv::Mat mask = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  mask.at<std::uint8_t>(row, column) = 1;
  EXPECT_EQ(zenith_sky_ratio(mask), static_cast<float>(samples) * 0.006103515625f);
}

TEST(ZenithSkyRatioTest, RegionOfWiderMatrixReadsItsOwnPixels) {
  cv::Mat wide = cv::Mat::zeros(kHeight, kWidth + 64, CV_8UC1);
  wide.colRange(kWidth, kWidth + 64).setTo(1);  // outside the region
  cv::Mat region = wide.colRange(0, kWidth);
  region.rowRange(0, 40).setTo(1);
  cv::Mat compact = cv::Mat::zeros(kHeight, kWidth, CV_8UC1);
  compact.rowRange(0, 40).setTo(1);
  EXPECT_EQ(zenith_sky_ratio(region), zenith_sky_ratio(compact));
}

TEST(OutdoorSceneTest, StrictlyAboveFifty) {
  EXPECT_FALSE(is_outdoor_scene(0.0f));
  EXPECT_FALSE(is_outdoor_scene(50.0f));
  EXPECT_TRUE(is_outdoor_scene(std::nextafter(50.0f, 100.0f)));
  EXPECT_TRUE(is_outdoor_scene(100.0f));
}

}  // namespace
}  // namespace quarrow
