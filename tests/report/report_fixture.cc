#include "report_fixture.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

namespace quarrow::report::testing {
namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "quarrow_report_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void write_depth(const std::string& path, const cv::Mat& depth) {
  CV_Assert(depth.type() == CV_32FC1 && depth.isContinuous());
  std::ofstream out(path, std::ios::binary);
  for (size_t i = 0; i < depth.total(); ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, depth.ptr<float>() + i, 4);
    const char le[4] = {static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                        static_cast<char>((bits >> 16) & 0xff),
                        static_cast<char>((bits >> 24) & 0xff)};
    out.write(le, 4);
  }
}

cv::Mat sunny_depth() {
  // A ramp down the rows from kSunnyMin to kSunnyMax; the top 40 rows are
  // trimmed to 0 as an outdoor map's sky is, and one negative value stands
  // for the -0.0/negatives a trimmed map may hold.
  cv::Mat depth(256, 512, CV_32FC1);
  for (int r = 0; r < depth.rows; ++r) {
    const float d = kSunnyMin + (kSunnyMax - kSunnyMin) * static_cast<float>(r - 40) / 215.0f;
    depth.row(r).setTo(r < 40 ? 0.0f : d);
  }
  depth.at<float>(100, 7) = -3.0f;
  return depth;
}

void make_synthetic_run(const std::string& root) {
  const fs::path caches = fs::path(root) / "caches";
  fs::create_directories(caches / "images");
  fs::create_directories(caches / "segm");
  fs::create_directories(caches / "depthmap");

  // Panoramas at twice the working size, so the thumbnail is a real resize.
  const cv::Mat pano(512, 1024, CV_8UC3, cv::Scalar(40, 120, 200));
  for (const char* uuid : {"sunny", "dim", "skipped", "noout", "baddepth"}) {
    cv::imwrite((caches / "images" / (std::string(uuid) + ".jpg")).string(), pano);
  }

  cv::Mat sky(256, 512, CV_8UC1, cv::Scalar(0));
  sky.rowRange(0, 80).setTo(255);
  cv::imwrite((caches / "segm" / "sunny_sky_segm.png").string(), sky);
  cv::imwrite((caches / "segm" / "dim_sky_segm.png").string(), cv::Mat::zeros(256, 512, CV_8UC1));
  cv::imwrite((caches / "segm" / "baddepth_sky_segm.png").string(), sky);

  write_depth((caches / "depthmap" / "sunny.bin").string(), sunny_depth());
  cv::Mat dim(256, 512, CV_32FC1, cv::Scalar(4.0f));
  dim.at<float>(3, 3) = kDimMin;
  dim.at<float>(200, 500) = kDimMax;
  write_depth((caches / "depthmap" / "dim.bin").string(), dim);
  write_text((caches / "depthmap" / "baddepth.bin").string(), std::string(100, '\0'));

  write_text((caches / "outdoor_flag.json").string(), R"({
    "images": [
        {"uuid": "sunny", "id": 11, "is_outdoor": true, "sky_ratio": 62.5, "is_main": true},
        {"uuid": "dim", "id": 12, "is_outdoor": false, "sky_ratio": 12.25, "is_main": true},
        {"uuid": "skipped", "id": 13, "is_outdoor": false, "sky_ratio": 0.0, "is_main": false},
        {"uuid": "ghost", "id": 14, "is_outdoor": false, "sky_ratio": 0.0, "is_main": true},
        {"uuid": "noout", "id": 15, "is_outdoor": false, "sky_ratio": 0.0, "is_main": true},
        {"uuid": "baddepth", "id": 16, "is_outdoor": true, "sky_ratio": 70.0, "is_main": true}
    ]
})");
}

}  // namespace quarrow::report::testing
