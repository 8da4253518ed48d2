// A synthetic quarrow data folder for the report tests: panoramas, sky masks,
// depth files and outdoor_flag.json written the way a quarrow run writes them.
#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace quarrow::report::testing {

// A fresh empty folder under the system's temporary folder, removed by the
// destructor.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void write_text(const std::string& path, const std::string& text);
// Raw little-endian float32 rows, as quarrow writes depth maps.
void write_depth(const std::string& path, const cv::Mat& depth);

// Records of the synthetic folder and what the report must say about them.
//   sunny     processed, outdoor, 62.5 %, depth 2.5 .. 37.5 m with trimmed zeros
//   dim       processed, indoor, 12.25 %, depth 0.75 .. 9.5 m
//   skipped   "is_main": false
//   ghost     main, image file missing
//   noout     main, image present, sky mask and depth file missing
//   baddepth  main, image and mask present, depth file 100 bytes long
inline constexpr float kSunnyMin = 2.5f, kSunnyMax = 37.5f;
inline constexpr float kDimMin = 0.75f, kDimMax = 9.5f;

// Fills <root>/caches as listed above.
void make_synthetic_run(const std::string& root);

// Depth map of the sunny record (also written to its file).
cv::Mat sunny_depth();

}  // namespace quarrow::report::testing
