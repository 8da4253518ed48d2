// cereal's JSON archive header first: it sets how rapidjson reports failures.
#include <cereal/archives/json.hpp>

#include "split.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "analysis/output_files.h"
#include "data/image_record.h"
#include "data/path_utils.h"
#include "shard_plan.h"
#include "work_layout.h"

namespace quarrow::batch {

namespace fs = std::filesystem;

namespace {

// A work folder holds only what a split made, so an earlier one may go.
bool clear_work_folder(const WorkLayout& layout, std::string& error) {
  std::error_code code;
  if (!fs::exists(layout.folder(), code)) return true;
  if (!fs::is_directory(layout.folder(), code)) {
    error = "work folder " + layout.folder() + " is not a folder";
    return false;
  }
  if (fs::is_empty(layout.folder(), code)) return true;
  if (!fs::is_regular_file(layout.manifest(), code)) {
    error = "work folder " + layout.folder() + " is not empty and holds no quarrow-batch manifest";
    return false;
  }
  for (const auto& entry : fs::directory_iterator(layout.folder())) {
    const std::string name = entry.path().filename().string();
    const bool ours = name.rfind("shard-", 0) == 0 || name == "logs" || name == "manifest.json" ||
                      name == "shards.sbatch" || name == "merge.sbatch";
    if (ours) fs::remove_all(entry.path(), code);  // links are removed, never followed
    if (code) {
      error = "can't clear " + entry.path().string() + ": " + code.message();
      return false;
    }
  }
  return true;
}

// True when the image path of `file_name` stays inside the images folder; a
// ".." would make a shard's link land outside its own folder.
bool stays_inside(const std::string& file_name) {
  std::size_t start = 0;
  while (start <= file_name.size()) {
    std::size_t end = start;
    while (end < file_name.size() && !is_separator(file_name[end])) ++end;
    if (file_name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

bool link_image(const std::string& original, const std::string& link, std::string& error) {
  std::error_code code;
  fs::create_directories(fs::path(link).parent_path(), code);
  if (!code) fs::create_symlink(original, link, code);
  if (code == std::errc::file_exists) code.clear();  // two records of one file
  if (code) error = "can't link " + link + " to " + original + ": " + code.message();
  return !code;
}

}  // namespace

bool split_data_folder(const std::string& data_folder, const std::string& work_folder,
                       std::size_t shard_count, Manifest& manifest, std::string& error) {
  if (shard_count == 0) {
    error = "the number of shards must be at least 1";
    return false;
  }
  // The texts quarrow forms, so that the file test below is quarrow's own.
  const std::string caches_text = join_dir(data_folder, "caches");
  const std::string images_text = join_dir(caches_text, "images");
  const DataPaths data = data_paths(data_folder);
  if (!is_directory(caches_text) || !is_directory(images_text)) {
    error = "folder " + data.images + " doesn't exist";
    return false;
  }
  std::vector<ImageRecord> records;
  try {
    read_image_records(data.images_json, records);
  } catch (const cereal::Exception& e) {
    error = data.images_json + ": " + e.what();
    return false;
  }

  std::vector<PlannedRecord> processed;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ImageRecord& record = records[i];
    if (!record.is_main) continue;
    const std::string image_path = join_path(images_text, record.file_name);
    if (!is_file(image_path)) continue;
    if (!stays_inside(record.file_name)) {
      error = "record " + std::to_string(i) + " (uuid \"" + record.uuid +
              "\") names an image outside the images folder";
      return false;
    }
    processed.push_back({i, sky_mask_file_path("", image_path)});
  }
  std::vector<std::vector<std::size_t>> plan = plan_shards(processed, shard_count);
  // Nothing to process: one shard with every record still loads the models
  // and writes the list, as one run would.
  if (processed.empty()) {
    for (std::size_t i = 0; i < records.size(); ++i) plan[0].push_back(i);
  }

  const WorkLayout layout(work_folder);
  if (!clear_work_folder(layout, error)) return false;
  std::error_code code;
  fs::create_directories(layout.logs(), code);
  if (code) {
    error = "can't create " + layout.logs() + ": " + code.message();
    return false;
  }

  manifest = Manifest{};
  manifest.source_folder = fs::absolute(data_folder).lexically_normal().string();
  manifest.images_json_checksum = file_checksum(data.images_json);
  manifest.record_count = records.size();
  for (std::size_t s = 0; s < plan.size(); ++s) {
    const DataPaths shard = data_paths(layout.shard_data_folder(s));
    fs::create_directories(shard.images, code);
    if (code) {
      error = "can't create " + shard.images + ": " + code.message();
      return false;
    }
    std::vector<ImageRecord> shard_records;
    ShardEntry entry;
    for (std::size_t index : plan[s]) {
      const ImageRecord& record = records[index];
      const std::string original = native_path(join_path(images_text, record.file_name));
      if (record.is_main && is_file(original) &&
          !link_image(original, native_path(join_path(shard.images + "/", record.file_name)),
                      error)) {
        return false;
      }
      shard_records.push_back(record);
      entry.records.push_back(index);
    }
    try {
      if (!write_image_records(shard.images_json, shard_records)) {
        error = "file " + shard.images_json + " can't be written";
        return false;
      }
    } catch (const cereal::Exception& e) {
      error = shard.images_json + ": " + e.what();
      return false;
    }
    entry.images_json_checksum = file_checksum(shard.images_json);
    manifest.shards.push_back(std::move(entry));
  }
  return write_manifest(layout.manifest(), manifest, error);
}

}  // namespace quarrow::batch
