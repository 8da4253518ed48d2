#include "inference/depth_map_finishing.h"

#include <cmath>
#include <iostream>

namespace quarrow {

namespace {

// 1 / (16 pi) in single precision (bits 0x3CA2F983): the row angle of edge
// distance 16, whatever the map's height.
constexpr float kReferenceAngle = 0.019894367f;

// k / 256 / pi, computed in double and rounded once; the 256 is fixed and does
// not follow the map's height. Single-precision arithmetic here would give
// other bits for some distances, and row_angle(16) must equal kReferenceAngle
// exactly so that the band row next to the reference row is copied unchanged.
float row_angle(int edge_distance) {
  const double k = static_cast<double>(static_cast<float>(edge_distance));
  return static_cast<float>(k * 0.00390625 * 0.3183098861837907);
}

// Rewrites `row` from `reference`: multiply by the reference cosine, then
// divide by the row's cosine, each step rounded to single precision. The depth
// files are compared byte for byte with earlier runs, so the two roundings stay:
// one multiplication by the ratio of the cosines gives other last bits.
void rescale_row(const float* reference, float* row, int cols, int edge_distance) {
  const float reference_cos = std::cos(kReferenceAngle);
  const float row_cos = std::cos(row_angle(edge_distance));
  for (int c = 0; c < cols; ++c) {
    const float scaled = reference_cos * reference[c];
    row[c] = scaled / row_cos;
  }
}

}  // namespace

void finish_depth_map(cv::Mat& depth_map, bool both_bands) {
  if (depth_map.type() != CV_32FC1) {
    std::cerr << "Wrong depth map type, it should be CV_32F" << std::endl;
    return;
  }
  const int rows = depth_map.rows;
  const int cols = depth_map.cols;
  const int band = rows / 16;
  if (band == 0 || cols == 0) {
    return;
  }

  if (both_bands) {
    const float* reference = depth_map.ptr<float>(band);
    for (int i = 0; i < band; ++i) {
      rescale_row(reference, depth_map.ptr<float>(i), cols, i + 1);
    }
  }
  const float* reference = depth_map.ptr<float>(rows - band - 1);
  for (int i = rows - band; i < rows; ++i) {
    rescale_row(reference, depth_map.ptr<float>(i), cols, rows - i);
  }
}

}  // namespace quarrow
