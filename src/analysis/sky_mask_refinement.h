// Sky mask refinement: turns the raw 0/1 sky mask into one solid 0/255 sky
// region without holes, or no sky at all when the top of the panorama is not
// mostly sky.
#pragma once

#include <opencv2/core.hpp>

namespace quarrow {

// Rewrites `sky_mask` (CV_8UC1, values 0/1 or 0/255) in place:
//   1. dilate by 5 pixels (3x3 rectangle, 5 iterations; the border adds nothing);
//   2. keep only the outer contour of largest area (first found on ties),
//      filled with 255;
//   3. close every hole that the background connected (4-neighbourhood) to the
//      bottom-left pixel cannot reach;
//   4. clear everything when fewer than three quarters of the pixels of the top
//      8 rows are sky.
// The result holds only 0 and 255.
void refine_sky_mask(cv::Mat& sky_mask);

}  // namespace quarrow
