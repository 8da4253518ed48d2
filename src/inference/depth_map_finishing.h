// Depth map finishing: rewrites the rows nearest the top and bottom edges of
// a depth map from the nearest row outside each band, scaled by a ratio of
// cosines that depends on the row's distance from the edge.
#pragma once

#include <opencv2/core.hpp>

namespace quarrow {

// Band height n = rows / 16. Bottom band (always): row i in rows - n .. rows - 1
// becomes (cosf(ref) * row[rows - n - 1]) / cosf(angle(rows - i)); top band (when
// `both_bands`): row i in 0 .. n - 1 becomes (cosf(ref) * row[n]) / cosf(angle(i + 1)).
// angle(k) = k / 256 / pi in single precision, ref = angle(16). A map that is
// not CV_32FC1 is reported on std::cerr and left untouched.
void finish_depth_map(cv::Mat& depth_map, bool both_bands);

}  // namespace quarrow
