#include "record_entry.h"

#include <filesystem>

#include <opencv2/imgcodecs.hpp>

#include "report_images.h"

namespace quarrow::report {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxNameChars = 48;

bool is_safe_name_char(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
         ch == '-' || ch == '_';
}

bool write_png(const fs::path& folder, const std::string& name, const cv::Mat& image,
               std::string& error) {
  const fs::path target = folder / name;
  bool ok = false;
  try {
    ok = cv::imwrite(target.string(), image);
  } catch (const cv::Exception&) {
    ok = false;
  }
  if (!ok) error = "cannot write " + target.string();
  return ok;
}

// Checks the sky mask file; on success `mask` holds it (CV_8UC1).
bool read_sky_mask(const fs::path& path, cv::Mat& mask, std::string& problem) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    problem = "sky mask segm/" + path.filename().string() + " missing";
    return false;
  }
  mask = cv::imread(path.string(), cv::IMREAD_GRAYSCALE);
  if (mask.empty()) {
    problem = "sky mask segm/" + path.filename().string() + " cannot be decoded";
    return false;
  }
  if (mask.cols != kDepthWidth || mask.rows != kDepthHeight) {
    problem = "sky mask segm/" + path.filename().string() + " is " +
              std::to_string(mask.cols) + "x" + std::to_string(mask.rows) + ", expected " +
              std::to_string(kDepthWidth) + "x" + std::to_string(kDepthHeight);
    return false;
  }
  return true;
}

}  // namespace

std::string png_prefix(std::size_t index, const std::string& uuid) {
  std::string name = std::to_string(index + 1) + "-";
  for (char ch : uuid) {
    if (name.size() >= kMaxNameChars) break;
    name += is_safe_name_char(ch) ? ch : '_';
  }
  return name;
}

bool evaluate_record(const DataPaths& paths, bool has_results, std::size_t index,
                     const ReportRecord& record, RecordEntry& entry, std::string& error) {
  entry = RecordEntry{};
  entry.record = record;
  const fs::path caches(paths.caches_folder);
  const std::string image_name = record.uuid + ".jpg";

  if (!record.is_main) {
    entry.outcome = Outcome::not_main;
    entry.reason = "not a main image (\"is_main\": false)";
    return true;
  }
  std::error_code ec;
  const fs::path image_path = caches / "images" / image_name;
  if (!fs::is_regular_file(image_path, ec)) {
    entry.outcome = Outcome::image_missing;
    entry.reason = "image file images/" + image_name + " missing";
    return true;
  }
  if (!has_results) {
    entry.outcome = Outcome::not_run_yet;
    entry.reason = "no results yet: outdoor_flag.json has not been written (run quarrow first)";
    return true;
  }
  const cv::Mat panorama = cv::imread(image_path.string(), cv::IMREAD_COLOR);
  if (panorama.empty()) {
    entry.outcome = Outcome::image_missing;
    entry.reason = "image file images/" + image_name + " cannot be decoded";
    return true;
  }

  // The outputs are named after the image file's stem, which is the uuid.
  std::string problems;
  cv::Mat mask;
  std::string problem;
  const bool mask_ok =
      read_sky_mask(caches / "segm" / (record.uuid + "_sky_segm.png"), mask, problem);
  if (!mask_ok) problems = problem;
  cv::Mat depth;
  const std::string depth_name = record.uuid + ".bin";
  if (!read_depth_file((caches / "depthmap" / depth_name).string(), depth, problem)) {
    if (!problems.empty()) problems += "; ";
    problems += problem + " (depthmap/" + depth_name + ")";
  }
  if (!problems.empty()) {
    entry.outcome = Outcome::outputs_missing;
    entry.reason = "outputs missing: " + problems;
    return true;
  }

  entry.outcome = Outcome::processed;
  entry.depth = depth_range(depth);
  const std::string prefix = png_prefix(index, record.uuid);
  entry.panorama_png = prefix + "-panorama.png";
  entry.sky_png = prefix + "-sky.png";
  entry.depth_png = prefix + "-depth.png";

  cv::Mat thumb, overlay, coloured;
  make_thumbnail(panorama, thumb);
  make_sky_overlay(thumb, mask, overlay);
  make_depth_image(depth, entry.depth, coloured);
  const fs::path folder(paths.report_folder);
  return write_png(folder, entry.panorama_png, thumb, error) &&
         write_png(folder, entry.sky_png, overlay, error) &&
         write_png(folder, entry.depth_png, coloured, error);
}

}  // namespace quarrow::report
