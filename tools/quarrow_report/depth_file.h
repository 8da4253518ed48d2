// Reads quarrow's depth map files (<stem>.bin in caches/depthmap/) and finds
// the depth range the report's colour scale spans.
#pragma once

#include <cstddef>
#include <string>

#include <opencv2/core.hpp>

#include "inference/network_contract.h"

namespace quarrow::report {

// A depth file holds the network's 512 x 256 little-endian 32-bit floats,
// rows from the top, and nothing else: 524288 bytes.
inline constexpr int kDepthWidth = kNetworkCols;
inline constexpr int kDepthHeight = kNetworkRows;
inline constexpr std::size_t kDepthFileBytes =
    static_cast<std::size_t>(kDepthWidth) * kDepthHeight * 4;

// Reads `path` into `depth` (CV_32FC1, 256 rows x 512 columns). Returns false
// with a reason in `error` when the file is missing, unreadable or not
// exactly kDepthFileBytes long.
bool read_depth_file(const std::string& path, cv::Mat& depth, std::string& error);

// Depth range over the pixels that carry a depth: finite and above zero.
// quarrow writes 0 where an outdoor map was trimmed and where a depth
// network produced nothing, so those pixels are "no depth", not "near".
struct DepthRange {
  bool valid = false;  // false when no pixel carries a depth
  float min = 0.0f;
  float max = 0.0f;
  std::size_t pixels = 0;  // pixels that carry a depth
};

DepthRange depth_range(const cv::Mat& depth);

}  // namespace quarrow::report
