#include "batch_fixture.h"

#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "process_runner.h"

namespace quarrow::testing {

namespace fs = std::filesystem;

std::string panorama_bytes(int sky_rows, unsigned seed) {
  cv::Mat image(256, 512, CV_8UC3);
  cv::RNG rng(seed);
  rng.fill(image, cv::RNG::UNIFORM, cv::Scalar(0, 0, 0), cv::Scalar(180, 180, 256));
  image.rowRange(0, sky_rows).setTo(cv::Scalar(255, 0, 120 + seed % 100));
  std::vector<unsigned char> bytes;
  cv::imencode(".png", image, bytes);
  return std::string(bytes.begin(), bytes.end());
}

int make_mixed_data_folder(const std::string& data_folder, int main_images) {
  const std::string caches = data_folder + "/caches";
  fs::create_directories(caches + "/images/sub");
  std::string records;
  int count = 0;
  auto add = [&](const std::string& uuid, bool is_main, const std::string& extra = "") {
    records += std::string(count ? ",\n" : "") + "  {\"uuid\": \"" + uuid + "\", \"id\": " +
               std::to_string(1000 + count) + ", \"is_main\": " + (is_main ? "true" : "false") +
               extra + "}";
    ++count;
  };
  auto image = [&](const std::string& uuid, int sky_rows, unsigned seed) {
    write_file(caches + "/images/" + uuid + ".jpg", panorama_bytes(sky_rows, seed));
  };
  for (int i = 0; i < main_images; ++i) {
    const std::string uuid = "pano" + std::to_string(i);
    image(uuid, (i * 53) % 257, static_cast<unsigned>(i));
    add(uuid, true, i % 4 == 1 ? ", \"is_outdoor\": true, \"sky_ratio\": 12.5" : "");
    if (i == 2) {
      add("nonmain_with_file", false, ", \"is_outdoor\": true, \"sky_ratio\": 77.25");
      image("nonmain_with_file", 200, 99);
      add("missing_main", true, ", \"is_outdoor\": false, \"sky_ratio\": 3.0");
    }
    if (i == 4) {
      add("broken", true);
      write_file(caches + "/images/broken.jpg", "this is not an image");
      add("sub/dup", true);
      image("sub/dup", 250, 7);
    }
    if (i == 6) add("pano1", true);  // the same uuid again: writes the same files once more
  }
  add("nonmain_missing", false);
  add("dup", true);  // the same output names as "sub/dup", from another image: it wins
  image("dup", 10, 8);
  add("missing_last", true);
  write_file(caches + "/images.json", "{\"images\": [\n" + records + "\n]}\n");
  return count;
}

void copy_inputs(const std::string& from, const std::string& to) {
  fs::create_directories(to + "/caches");
  fs::copy(from + "/caches/images", to + "/caches/images", fs::copy_options::recursive);
  fs::copy_file(from + "/caches/images.json", to + "/caches/images.json");
}

namespace {

std::map<std::string, std::string> folder_files(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!fs::is_directory(folder)) return files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = read_file(entry.path().string());
  }
  return files;
}

}  // namespace

std::string result_differences(const std::string& a, const std::string& b) {
  std::string differences;
  const std::string flag_a = read_file(a + "/caches/outdoor_flag.json");
  const std::string flag_b = read_file(b + "/caches/outdoor_flag.json");
  if (flag_a.empty()) differences += "no outdoor_flag.json in " + a + "\n";
  if (flag_a != flag_b) differences += "outdoor_flag.json differs\n";
  for (const char* sub : {"segm", "depthmap"}) {
    const auto files_a = folder_files(a + "/caches/" + sub);
    const auto files_b = folder_files(b + "/caches/" + sub);
    for (const auto& [name, bytes] : files_a) {
      const auto it = files_b.find(name);
      if (it == files_b.end()) {
        differences += std::string(sub) + "/" + name + " only in " + a + "\n";
      } else if (it->second != bytes) {
        differences += std::string(sub) + "/" + name + " differs\n";
      }
    }
    for (const auto& [name, bytes] : files_b) {
      if (!files_a.count(name)) differences += std::string(sub) + "/" + name + " only in " + b + "\n";
    }
  }
  return differences;
}

int file_count(const std::string& data_folder, const std::string& sub) {
  int count = 0;
  const std::string folder = data_folder + "/caches/" + sub;
  if (!fs::is_directory(folder)) return 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

}  // namespace quarrow::testing
