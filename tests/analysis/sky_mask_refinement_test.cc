#include "analysis/sky_mask_refinement.h"

#include <gtest/gtest.h>

namespace quarrow {
namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 256;

cv::Mat empty_mask() { return cv::Mat::zeros(kHeight, kWidth, CV_8UC1); }

// Number of pixels that differ between two masks of the same size.
int differing_pixels(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat difference;
  cv::compare(a, b, difference, cv::CMP_NE);
  return cv::countNonZero(difference);
}

bool only_zero_and_255(const cv::Mat& mask) {
  const int zeros = mask.rows * mask.cols - cv::countNonZero(mask);
  return zeros + cv::countNonZero(mask == 255) == mask.rows * mask.cols;
}

TEST(RefineSkyMaskTest, NoSkyStaysEmpty) {
  cv::Mat mask = empty_mask();
  refine_sky_mask(mask);
  EXPECT_EQ(cv::countNonZero(mask), 0);
}

TEST(RefineSkyMaskTest, IsolatedPixelIsClearedByTheTopBand) {
  cv::Mat mask = empty_mask();
  mask.at<std::uint8_t>(3, 200) = 1;  // grows to 11 x 11 but the band needs 3072
  refine_sky_mask(mask);
  EXPECT_EQ(cv::countNonZero(mask), 0);
}

TEST(RefineSkyMaskTest, SkyAcrossTheTopGrowsByFivePixels) {
  cv::Mat mask = empty_mask();
  mask.rowRange(0, 40).setTo(1);
  refine_sky_mask(mask);
  cv::Mat expected = empty_mask();
  expected.rowRange(0, 45).setTo(255);
  EXPECT_EQ(differing_pixels(mask, expected), 0);
}

TEST(RefineSkyMaskTest, OnlyTheLargerOfTwoRegionsSurvives) {
  cv::Mat mask = empty_mask();
  mask.rowRange(0, 50).setTo(1);
  mask(cv::Rect(100, 150, 11, 11)).setTo(1);  // small blob, far below
  refine_sky_mask(mask);
  cv::Mat expected = empty_mask();
  expected.rowRange(0, 55).setTo(255);
  EXPECT_EQ(differing_pixels(mask, expected), 0);
}

TEST(RefineSkyMaskTest, HoleInsideSkyIsClosed) {
  cv::Mat mask = empty_mask();
  mask.rowRange(0, 150).setTo(1);
  mask(cv::Rect(200, 50, 21, 21)).setTo(0);  // a tree top inside the sky
  refine_sky_mask(mask);
  cv::Mat expected = empty_mask();
  expected.rowRange(0, 155).setTo(255);
  EXPECT_EQ(differing_pixels(mask, expected), 0);
}

TEST(RefineSkyMaskTest, SkyCoveringBottomLeftMakesEverythingSky) {
  cv::Mat mask = empty_mask();
  mask.colRange(0, 40).setTo(1);  // a full-height strip touching the bottom-left pixel
  mask.rowRange(0, 10).setTo(1);
  refine_sky_mask(mask);
  EXPECT_EQ(cv::countNonZero(mask), kWidth * kHeight);
}

TEST(RefineSkyMaskTest, TopBandNeedsThreeQuartersOfItsPixels) {
  // Raw rows 0-5 reach column A, rows 6-100 column A + 1. After growing by 5,
  // band row 0 ends at A + 5 and rows 1-7 at A + 6: 8A + 55 band pixels.
  struct Case {
    int short_rows_end;  // last column of raw rows 0-5
    int band_pixels;
    bool kept;
  };
  const Case cases[] = {{377, 3071, false}, {378, 3079, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.band_pixels);
    cv::Mat mask = empty_mask();
    mask(cv::Rect(0, 0, c.short_rows_end + 1, 6)).setTo(1);
    mask(cv::Rect(0, 6, c.short_rows_end + 2, 95)).setTo(1);
    refine_sky_mask(mask);
    EXPECT_EQ(cv::countNonZero(mask) > 0, c.kept);
  }

  // A plain rectangle whose grown band holds exactly 8 x 384 = 3072 pixels passes.
  cv::Mat exact = empty_mask();
  exact(cv::Rect(0, 0, 379, 101)).setTo(1);
  refine_sky_mask(exact);
  EXPECT_EQ(cv::countNonZero(exact.rowRange(0, 8)), 3072);
  EXPECT_EQ(cv::countNonZero(exact), 384 * 106);
}

TEST(RefineSkyMaskTest, ResultHoldsOnlyZeroAnd255) {
  cv::Mat mask = empty_mask();
  cv::randu(mask, 0, 2);  // noisy 0/1 mask
  mask.rowRange(0, 20).setTo(1);
  refine_sky_mask(mask);
  EXPECT_TRUE(only_zero_and_255(mask));
  EXPECT_GT(cv::countNonZero(mask), 0);
}

}  // namespace
}  // namespace quarrow
