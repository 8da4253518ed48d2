// Sky ratio: the share of a 90 degree view straight up (the zenith face of a
// cube map around the camera) that a raw 0/1 sky mask marks as sky.
#pragma once

#include <opencv2/core.hpp>

namespace quarrow {

// Samples the zenith face (side = mask width / 4) at every integer pixel
// point, maps each sample through the zenith rotation onto the
// equirectangular mask and adds 100 / side^2 (single precision) for each
// nonzero mask byte hit. Returns the percentage, 0 to 100; with side 128
// every partial sum is exact. `sky_mask` must be CV_8UC1; it is not changed.
float zenith_sky_ratio(const cv::Mat& sky_mask);

// The scene counts as outdoor when more than half of the zenith view is sky.
inline bool is_outdoor_scene(float sky_ratio) { return sky_ratio > 50.0f; }

}  // namespace quarrow
