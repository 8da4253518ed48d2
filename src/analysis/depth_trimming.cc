#include "analysis/depth_trimming.h"

#include <opencv2/imgproc.hpp>

namespace quarrow {

namespace {

constexpr int kShrinkIterations = 5;

}  // namespace

void trim_outdoor_depth(cv::Mat& depth_map) {
  CV_Assert(depth_map.type() == CV_32FC1);
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
  cv::Mat valid_depth = depth_map > 0.0;
  cv::erode(valid_depth, valid_depth, kernel, cv::Point(-1, -1), kShrinkIterations,
            cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
  cv::Mat valid_scale;
  valid_depth.convertTo(valid_scale, CV_32F, 1, 0);
  depth_map = depth_map.mul(valid_scale, 1.0) / 255.0;
}

}  // namespace quarrow
