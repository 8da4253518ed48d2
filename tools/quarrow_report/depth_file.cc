#include "depth_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace quarrow::report {

namespace {

// Decodes four little-endian bytes whatever the host's byte order.
float float_from_le(const unsigned char* bytes) {
  const std::uint32_t bits = static_cast<std::uint32_t>(bytes[0]) |
                             (static_cast<std::uint32_t>(bytes[1]) << 8) |
                             (static_cast<std::uint32_t>(bytes[2]) << 16) |
                             (static_cast<std::uint32_t>(bytes[3]) << 24);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

bool read_depth_file(const std::string& path, cv::Mat& depth, std::string& error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in.is_open()) {
    error = "depth file missing";
    return false;
  }
  const std::streamoff size = in.tellg();
  if (size != static_cast<std::streamoff>(kDepthFileBytes)) {
    error = "depth file has " + std::to_string(size < 0 ? 0 : size) + " bytes, expected " +
            std::to_string(kDepthFileBytes);
    return false;
  }
  std::vector<unsigned char> bytes(kDepthFileBytes);
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()))) {
    error = "depth file cannot be read";
    return false;
  }
  depth.create(kDepthHeight, kDepthWidth, CV_32FC1);
  const unsigned char* p = bytes.data();
  for (int r = 0; r < kDepthHeight; ++r) {
    float* row = depth.ptr<float>(r);
    for (int c = 0; c < kDepthWidth; ++c, p += 4) row[c] = float_from_le(p);
  }
  return true;
}

DepthRange depth_range(const cv::Mat& depth) {
  CV_Assert(depth.type() == CV_32FC1);
  DepthRange range;
  for (int r = 0; r < depth.rows; ++r) {
    const float* row = depth.ptr<float>(r);
    for (int c = 0; c < depth.cols; ++c) {
      const float d = row[c];
      if (!std::isfinite(d) || d <= 0.0f) continue;
      if (!range.valid) {
        range.valid = true;
        range.min = range.max = d;
      } else {
        range.min = std::min(range.min, d);
        range.max = std::max(range.max, d);
      }
      ++range.pixels;
    }
  }
  return range;
}

}  // namespace quarrow::report
