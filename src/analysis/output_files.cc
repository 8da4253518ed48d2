#include "analysis/output_files.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "data/path_utils.h"

namespace quarrow {

namespace {

bool host_is_little_endian() {
  const std::uint32_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

}  // namespace

std::string sky_mask_file_path(const std::string& segm_folder, const std::string& image_path) {
  return join_path_ext(segm_folder, file_stem(image_path) + "_sky_segm", ".png");
}

std::string depth_map_file_path(const std::string& depthmap_folder,
                                const std::string& image_path) {
  return join_path_ext(depthmap_folder, file_stem(image_path), "bin");
}

bool write_sky_mask(const std::string& path, const cv::Mat& sky_mask) {
  try {
    const cv::Mat scaled = sky_mask * 255;
    return cv::imwrite(native_path(path), scaled, std::vector<int>());
  } catch (const cv::Exception&) {
    // Some encoders raise instead of returning false on an unwritable target.
    return false;
  }
}

bool write_depth_map(const std::string& path, const cv::Mat& depth_map) {
  CV_Assert(depth_map.type() == CV_32FC1);
  std::ofstream stream(native_path(path), std::ios::out | std::ios::binary);
  if (!stream) {
    return false;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(depth_map.cols) * sizeof(float);
  if (host_is_little_endian()) {
    for (int r = 0; r < depth_map.rows; ++r) {
      stream.write(depth_map.ptr<char>(r), static_cast<std::streamsize>(row_bytes));
    }
  } else {
    std::vector<char> swapped(row_bytes);
    for (int r = 0; r < depth_map.rows; ++r) {
      const char* row = depth_map.ptr<char>(r);
      for (std::size_t i = 0; i < row_bytes; i += 4) {
        for (std::size_t b = 0; b < 4; ++b) swapped[i + b] = row[i + 3 - b];
      }
      stream.write(swapped.data(), static_cast<std::streamsize>(row_bytes));
    }
  }
  stream.close();
  return !stream.fail();
}

}  // namespace quarrow
