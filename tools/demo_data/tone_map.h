// Turns a linear HDR panorama into an 8-bit picture for the demo data.
// Kept as one free function in its own file so that the demo images and the
// images the networks were trained on can share a single operator.
#pragma once

#include <opencv2/core.hpp>

namespace quarrow::demo {

// Tone-maps `hdr` (CV_32FC3, linear light, BGR as OpenCV reads EXR files)
// into `ldr` (CV_8UC3, BGR, same size; (re)allocated by the call).
//
// Luminance is scaled so that its 99th percentile becomes 1, then each
// channel goes through Reinhard's x / (1 + x) and a 1/2.2 gamma. Negative
// and NaN values count as black, +Inf as full white. The mapping is
// monotonic per channel for a given exposure, maps 0 to 0 and never leaves
// 0..255.
void tone_map_to_8bit(const cv::Mat& hdr, cv::Mat& ldr);

// The exposure factor that tone_map_to_8bit applies: 1 / (99th percentile of
// luminance), or 1 when that percentile is not positive (an all-black image).
float exposure_scale(const cv::Mat& hdr);

}  // namespace quarrow::demo
