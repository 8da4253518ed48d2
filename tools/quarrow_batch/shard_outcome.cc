#include <cereal/archives/json.hpp>

#include "shard_outcome.h"

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "atomic_file.h"

namespace quarrow::batch {

std::string exit_text(int wait_status) {
  if (WIFEXITED(wait_status)) return std::to_string(WEXITSTATUS(wait_status));
  if (WIFSIGNALED(wait_status)) return "signal " + std::to_string(WTERMSIG(wait_status));
  return "unknown " + std::to_string(wait_status);
}

bool write_exit_file(const WorkLayout& layout, std::size_t shard, int wait_status,
                     std::string& error) {
  return write_file_atomically(layout.shard_exit_file(shard), exit_text(wait_status) + "\n",
                               error);
}

bool is_finished(ShardState state) {
  return state == ShardState::kFinished || state == ShardState::kImagesFailed;
}

namespace {

bool read_exit_file(const std::string& path, std::string& text) {
  std::ifstream input(path);
  if (!input) return false;
  std::getline(input, text);
  return true;
}

bool same_record(const ImageRecord& a, const ImageRecord& b) {
  return a.uuid == b.uuid && a.id == b.id && a.is_main == b.is_main;
}

}  // namespace

ShardOutcome shard_outcome(const WorkLayout& layout, const Manifest& manifest, std::size_t shard,
                           const std::vector<ImageRecord>& expected) {
  ShardOutcome outcome;
  const std::string name = WorkLayout::shard_name(shard);
  std::error_code code;
  if (!std::filesystem::is_directory(layout.shard_data_folder(shard), code)) {
    outcome.state = ShardState::kFailed;
    outcome.reason = name + " is missing (no folder " + layout.shard_data_folder(shard) + ")";
    return outcome;
  }
  std::string exit;
  if (!read_exit_file(layout.shard_exit_file(shard), exit)) {
    outcome.reason = name + " has not finished (no " + layout.shard_exit_file(shard) + ")";
    return outcome;
  }
  outcome.state = ShardState::kFailed;
  if (exit != "0" && exit != "1") {
    outcome.reason = name + " failed (quarrow ended with " + exit + "; see " +
                     layout.shard_err_log(shard) + ")";
    return outcome;
  }

  const DataPaths paths = data_paths(layout.shard_data_folder(shard));
  if (file_checksum(paths.images_json) != manifest.shards[shard].images_json_checksum) {
    outcome.reason = name + " was made from another images.json (its images.json differs from the manifest)";
    return outcome;
  }
  std::ifstream probe(paths.outdoor_flag_json);
  if (!probe) {
    outcome.reason = name + " failed (quarrow ended with " + exit + " without writing " +
                     paths.outdoor_flag_json + "; see " + layout.shard_err_log(shard) + ")";
    return outcome;
  }
  probe.close();
  try {
    read_image_records(paths.outdoor_flag_json, outcome.results);
  } catch (const cereal::Exception& e) {
    outcome.reason = name + " failed (" + paths.outdoor_flag_json + " can't be read: " + e.what() + ")";
    outcome.results.clear();
    return outcome;
  }
  bool matches = outcome.results.size() == expected.size();
  for (std::size_t k = 0; matches && k < expected.size(); ++k) {
    matches = same_record(outcome.results[k], expected[k]);
  }
  if (!matches) {
    outcome.reason = name + " was made from another images.json (its results name other records)";
    outcome.results.clear();
    return outcome;
  }
  outcome.state = exit == "0" ? ShardState::kFinished : ShardState::kImagesFailed;
  return outcome;
}

}  // namespace quarrow::batch
