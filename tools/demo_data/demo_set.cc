#include "demo_set.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

#include "data/image_record.h"
#include "tone_map.h"

namespace quarrow::demo {
namespace fs = std::filesystem;

namespace {

constexpr int kJpegQuality = 92;

// OpenCV refuses EXR files unless this variable is set before its first use
// of the EXR codec; overwrite=0 keeps a value the user chose.
void enable_exr_reading() { setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0); }

}  // namespace

const std::vector<DemoPanorama>& demo_panoramas() {
  static const std::vector<DemoPanorama> set = {
      {"city", 1, true},   {"courtyard", 2, true}, {"forest", 3, true},
      {"interior", 4, true}, {"night", 5, true},   {"studio", 6, true},
      {"sunrise", 7, false}, {"sunset", 8, true},
  };
  return set;
}

std::string images_json_text(const std::vector<DemoPanorama>& set) {
  std::vector<ImageRecord> records(set.size());
  for (size_t i = 0; i < set.size(); ++i) {
    records[i].uuid = set[i].uuid;
    records[i].id = set[i].id;
    records[i].is_main = set[i].is_main;
  }
  return image_list_json_text(records);
}

bool write_demo_data(const std::string& source_folder, const std::string& data_folder,
                     const std::vector<DemoPanorama>& set, std::string& error) {
  enable_exr_reading();
  const fs::path caches = fs::path(data_folder) / "caches";
  const fs::path images = caches / "images";
  std::error_code ec;
  fs::create_directories(images, ec);
  if (ec) {
    error = "cannot create folder " + images.string() + ": " + ec.message();
    return false;
  }

  for (const DemoPanorama& p : set) {
    const fs::path source = fs::path(source_folder) / (p.uuid + ".exr");
    const cv::Mat hdr = cv::imread(source.string(), cv::IMREAD_UNCHANGED);
    if (hdr.empty()) {
      error = "cannot read " + source.string() +
              " (is the blender-data package installed?)";
      return false;
    }
    if (hdr.type() != CV_32FC3) {
      error = source.string() + " is not a three-channel float image";
      return false;
    }
    cv::Mat ldr;
    tone_map_to_8bit(hdr, ldr);
    const fs::path target = images / (p.uuid + ".jpg");
    if (!cv::imwrite(target.string(), ldr, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
      error = "cannot write " + target.string();
      return false;
    }
  }

  const fs::path json = caches / "images.json";
  std::ofstream out(json, std::ios::binary | std::ios::trunc);
  out << images_json_text(set);
  out.close();
  if (!out) {
    error = "cannot write " + json.string();
    return false;
  }
  return true;
}

}  // namespace quarrow::demo
