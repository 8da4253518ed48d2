// The pictures of the report: panorama thumbnail, sky mask overlay, depth map
// in colour and the colour scale. All are BGR images of the working size
// (512 x 256) except the colour bar.
#pragma once

#include <opencv2/core.hpp>

#include "depth_file.h"

namespace quarrow::report {

inline constexpr int kThumbWidth = kDepthWidth;
inline constexpr int kThumbHeight = kDepthHeight;
inline constexpr int kColourBarWidth = 256;
inline constexpr int kColourBarHeight = 16;

// Colour of pixels without a depth (zero, negative or not finite); no colour
// of the colour map is grey, so they stay distinguishable.
inline const cv::Scalar kNoDepthColour(96, 96, 96);

// Panorama (any size, BGR) resized to the working size into `thumb`.
void make_thumbnail(const cv::Mat& panorama, cv::Mat& thumb);

// `thumb` with the pixels where `mask` (CV_8UC1, nonzero = sky; any size, it
// is scaled to the thumbnail with nearest-neighbour sampling) tinted, and the
// outline of the sky drawn, into `overlay`.
void make_sky_overlay(const cv::Mat& thumb, const cv::Mat& mask, cv::Mat& overlay);

// `depth` (CV_32FC1) in the colour map, `range.min` at the low end and
// `range.max` at the high end; pixels without a depth in kNoDepthColour.
void make_depth_image(const cv::Mat& depth, const DepthRange& range, cv::Mat& coloured);

// The colour map from its low end (left) to its high end (right).
void make_colour_bar(cv::Mat& bar);

}  // namespace quarrow::report
