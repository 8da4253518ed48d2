#include "analysis/output_files.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "data/file_replacement.h"
#include "data/path_utils.h"

namespace quarrow {

namespace {

bool host_is_little_endian() {
  const std::uint32_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

bool write_bytes(const std::string& name, const std::vector<unsigned char>& bytes) {
  std::ofstream stream(name, std::ios::out | std::ios::binary);
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  stream.close();
  return !stream.fail();
}

bool write_raw_floats(const std::string& name, const cv::Mat& depth_map) {
  std::ofstream stream(name, std::ios::out | std::ios::binary);
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
    // Encoded in memory and written with a checked stream: cv::imwrite does
    // not report every failed write (on a full disk a small PNG can end up as
    // an empty file while it returns true), and a short file must never be
    // renamed over a good one. The
    // bytes are those cv::imwrite writes with the same (default) settings.
    std::vector<unsigned char> png;
    if (!cv::imencode(".png", scaled, png, std::vector<int>())) return false;
    return replace_file(native_path(path),
                        [&png](const std::string& name) { return write_bytes(name, png); });
  } catch (const cv::Exception&) {
    // The encoder raises, rather than returning false, on a matrix it cannot store.
    return false;
  }
}

bool write_depth_map(const std::string& path, const cv::Mat& depth_map) {
  CV_Assert(depth_map.type() == CV_32FC1);
  return replace_file(native_path(path), [&depth_map](const std::string& name) {
    return write_raw_floats(name, depth_map);
  });
}

}  // namespace quarrow
