#include "work_layout.h"

#include <cstdio>
#include <filesystem>

#include "data/path_utils.h"

namespace quarrow::batch {

DataPaths data_paths(const std::string& data_folder) {
  DataPaths paths;
  const std::string caches = join_dir(data_folder, "caches");
  paths.caches = native_path(caches);
  paths.images = native_path(join_dir(caches, "images"));
  paths.segm = native_path(join_dir(caches, "segm"));
  paths.depthmap = native_path(join_dir(caches, "depthmap"));
  paths.images_json = native_path(join_path_ext(caches, "images", "json"));
  paths.outdoor_flag_json = native_path(join_path_ext(caches, "outdoor_flag", "json"));
  return paths;
}

WorkLayout::WorkLayout(const std::string& work_folder)
    : folder_(std::filesystem::absolute(work_folder).lexically_normal().string()) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

std::string WorkLayout::manifest() const { return folder_ + "/manifest.json"; }

std::string WorkLayout::logs() const { return folder_ + "/logs"; }

std::string WorkLayout::shard_name(std::size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "shard-%04zu", index);
  return name;
}

std::string WorkLayout::shard_data_folder(std::size_t index) const {
  return folder_ + "/" + shard_name(index);
}

std::string WorkLayout::shard_out_log(std::size_t index) const {
  return logs() + "/" + shard_name(index) + ".out";
}

std::string WorkLayout::shard_err_log(std::size_t index) const {
  return logs() + "/" + shard_name(index) + ".err";
}

std::string WorkLayout::shard_exit_file(std::size_t index) const {
  return logs() + "/" + shard_name(index) + ".exit";
}

std::string WorkLayout::array_script() const { return folder_ + "/shards.sbatch"; }

std::string WorkLayout::merge_script() const { return folder_ + "/merge.sbatch"; }

}  // namespace quarrow::batch
