#include "analysis/sky_mask_refinement.h"

#include <algorithm>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace quarrow {

namespace {

constexpr int kGrowIterations = 5;
constexpr int kTopBandRows = 8;
// A band of 8 rows passes with at least 6 x width sky pixels: three quarters.
constexpr int kTopBandMinimumPerColumn = 6;

// Index of the contour with the largest unsigned area; the first one wins a tie.
// Areas are compared after rounding to single precision, so two contours whose
// areas differ below float precision tie and the first is kept: another
// choice would fill another polygon and change the written mask.
std::size_t largest_contour(const std::vector<std::vector<cv::Point>>& contours) {
  float best_area = 0.0f;
  std::size_t best_index = 0;
  for (std::size_t i = 0; i < contours.size(); ++i) {
    const float area = static_cast<float>(cv::contourArea(contours[i], false));
    if (area > best_area) {
      best_area = area;
      best_index = i;
    }
  }
  return best_index;
}

}  // namespace

void refine_sky_mask(cv::Mat& sky_mask) {
  CV_Assert(sky_mask.type() == CV_8UC1);
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
  cv::dilate(sky_mask, sky_mask, kernel, cv::Point(-1, -1), kGrowIterations, cv::BORDER_CONSTANT,
             cv::morphologyDefaultBorderValue());

  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> hierarchy;
  cv::findContours(sky_mask, contours, hierarchy, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE,
                   cv::Point(0, 0));
  const std::size_t best = largest_contour(contours);

  sky_mask.setTo(0);
  if (!contours.empty()) {
    const std::vector<std::vector<cv::Point>> polygon{contours[best]};
    cv::fillPoly(sky_mask, polygon, cv::Scalar(255), cv::LINE_8, 0, cv::Point(0, 0));
  }

  // Paint the background reachable from the bottom-left pixel; everything it
  // cannot reach (the polygon and its holes) becomes sky.
  cv::Mat filled = sky_mask.clone();
  if (!filled.empty()) {
    cv::floodFill(filled, cv::Point(0, filled.rows - 1), cv::Scalar(255), nullptr, cv::Scalar(0),
                  cv::Scalar(0), 4);
  }
  cv::bitwise_xor(filled, sky_mask, sky_mask);
  cv::bitwise_not(sky_mask, sky_mask);

  const int band_rows = std::min(kTopBandRows, sky_mask.rows);
  const int band_sky = cv::countNonZero(sky_mask.rowRange(0, band_rows));
  if (band_sky < kTopBandMinimumPerColumn * sky_mask.cols) {
    sky_mask.setTo(0);
  }
}

}  // namespace quarrow
