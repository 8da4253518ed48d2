// Outdoor depth trimming: keeps the depth only well inside the region where
// the outdoor depth network predicts positive depth.
#pragma once

#include <opencv2/core.hpp>

namespace quarrow {

// Builds the mask depth > 0 (NaN counts as not positive), erodes it by 5
// pixels (3x3 rectangle, 5 iterations; the image border does not erode) and
// multiplies the CV_32FC1 `depth_map` by it in place as one element-wise
// product scaled by 1/255. Every non-positive value therefore clears the
// 11 x 11 square around it; a negative value becomes -0.0 and NaN stays NaN.
void trim_outdoor_depth(cv::Mat& depth_map);

}  // namespace quarrow
