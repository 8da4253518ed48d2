#include <cereal/archives/json.hpp>

#include "shard_run.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "child_process.h"
#include "data/image_record.h"
#include "manifest.h"
#include "shard_outcome.h"

namespace quarrow::batch {

namespace fs = std::filesystem;

pid_t start_shard(const WorkLayout& layout, std::size_t shard, const ShardRunSpec& request,
                  std::string& error) {
  const std::string shard_folder = layout.shard_data_folder(shard);
  const DataPaths paths = data_paths(shard_folder);
  std::error_code code;
  if (!fs::is_regular_file(paths.images_json, code)) {
    error = "shard folder " + shard_folder + " has no images.json (run quarrow-batch split first)";
    return -1;
  }
  // segm and depthmap hold only files of this shard's earlier runs: a killed
  // run must leave nothing that a merge could take for a result.
  for (const std::string& path :
       {layout.shard_exit_file(shard), paths.outdoor_flag_json, paths.segm, paths.depthmap,
        layout.shard_out_log(shard), layout.shard_err_log(shard)}) {
    fs::remove_all(path, code);
    if (code) {
      error = "can't remove " + path + ": " + code.message();
      return -1;
    }
  }
  fs::create_directories(layout.logs(), code);

  ChildRequest child;
  child.program = request.quarrow;
  child.arguments = {request.model_folder, shard_folder};
  child.stdout_path = layout.shard_out_log(shard);
  child.stderr_path = layout.shard_err_log(shard);
  child.cpus = request.cpus;
  if (request.threads > 0) child.environment.emplace_back("OMP_NUM_THREADS", std::to_string(request.threads));
  return start_child(child, error);
}

bool finish_shard(const WorkLayout& layout, std::size_t shard, int wait_status,
                  std::string& error) {
  return write_exit_file(layout, shard, wait_status, error);
}

std::string default_quarrow_program() {
  std::error_code code;
  const fs::path self = fs::read_symlink("/proc/self/exe", code);
  if (!code) {
    const fs::path sibling = self.parent_path() / "quarrow";
    if (::access(sibling.c_str(), X_OK) == 0) return sibling.string();
  }
  return "quarrow";
}

}  // namespace quarrow::batch

namespace quarrow::batch {

int run_one_shard(const WorkLayout& layout, std::size_t shard, const ShardRunSpec& request) {
  Manifest manifest;
  std::string error;
  if (!read_manifest(layout.manifest(), manifest, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  if (shard >= manifest.shards.size()) {
    std::cerr << "Error: there is no shard " << shard << " in " << layout.folder() << " (it has "
              << manifest.shards.size() << ")" << std::endl;
    return 1;
  }
  const pid_t pid = start_shard(layout, shard, request, error);
  if (pid < 0) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  const int status = wait_child(pid);
  if (!finish_shard(layout, shard, status, error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }
  std::vector<ImageRecord> expected;
  try {
    read_image_records(data_paths(layout.shard_data_folder(shard)).images_json, expected);
  } catch (const cereal::Exception& e) {
    std::cerr << "Error: " << e.what() << std::endl;
    return 1;
  }
  const ShardOutcome outcome = shard_outcome(layout, manifest, shard, expected);
  std::cout << WorkLayout::shard_name(shard) << ": quarrow ended with " << exit_text(status)
            << std::endl;
  if (!is_finished(outcome.state)) {
    std::cerr << "Error: " << outcome.reason << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace quarrow::batch
