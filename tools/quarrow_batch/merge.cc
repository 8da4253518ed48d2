#include <cereal/archives/json.hpp>

#include "merge.h"

#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "analysis/output_files.h"
#include "atomic_file.h"
#include "data/image_record.h"
#include "data/path_utils.h"
#include "manifest.h"
#include "shard_outcome.h"
#include "work_layout.h"

namespace quarrow::batch {

namespace fs = std::filesystem;

namespace {

void report(const std::string& message) { std::cerr << "Error: " << message << std::endl; }

bool same_folder(const std::string& a, const std::string& b) {
  std::error_code code_a;
  std::error_code code_b;
  const fs::path canonical_a = fs::weakly_canonical(a, code_a);
  const fs::path canonical_b = fs::weakly_canonical(b, code_b);
  return !code_a && !code_b && canonical_a == canonical_b;
}

bool ensure_folder(const std::string& path) {
  std::error_code code;
  if (fs::is_directory(path, code)) return true;
  fs::create_directory(path, code);
  if (code) report("folder " + path + " can't be created: " + code.message());
  return !code;
}

// The shard's mask and depth file of each of its records, where they exist,
// moved into the data folder. An image that could not be decoded has none,
// and a file merged before has already moved: either way the data folder's
// file stays as it is.
bool place_outputs(const WorkLayout& layout, std::size_t shard,
                   const std::vector<ImageRecord>& records, const DataPaths& data) {
  const DataPaths shard_paths = data_paths(layout.shard_data_folder(shard));
  for (const ImageRecord& record : records) {
    if (!record.is_main) continue;
    const std::string image_path = join_path(shard_paths.images, record.file_name);
    const std::string files[][2] = {
        {sky_mask_file_path(shard_paths.segm + "/", image_path),
         sky_mask_file_path(data.segm + "/", image_path)},
        {depth_map_file_path(shard_paths.depthmap + "/", image_path),
         depth_map_file_path(data.depthmap + "/", image_path)}};
    for (const auto& [from_text, to_text] : files) {
      const std::string from = native_path(from_text);
      std::error_code code;
      if (!fs::is_regular_file(from, code)) continue;
      std::string error;
      if (!move_file(from, native_path(to_text), error)) {
        report(error);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

MergeResult merge_shards(const std::string& data_folder, const std::string& work_folder) {
  MergeResult result;
  const WorkLayout layout(work_folder);
  const DataPaths data = data_paths(data_folder);
  Manifest manifest;
  std::string error;
  if (!read_manifest(layout.manifest(), manifest, error)) {
    report(error);
    return result;
  }
  if (!same_folder(manifest.source_folder, data_folder)) {
    report("the shards in " + layout.folder() + " were made from " + manifest.source_folder +
           ", not from " + data_folder);
    return result;
  }
  if (file_checksum(data.images_json) != manifest.images_json_checksum) {
    report("the shards in " + layout.folder() + " were made from another images.json than " +
           data.images_json + " (split again)");
    return result;
  }
  std::vector<ImageRecord> records;
  try {
    read_image_records(data.images_json, records);
  } catch (const cereal::Exception& e) {
    report(data.images_json + ": " + e.what());
    return result;
  }
  if (records.size() != manifest.record_count) {
    report("the manifest in " + layout.folder() + " does not fit " + data.images_json);
    return result;
  }

  // Every shard is checked before anything is changed.
  std::vector<ShardOutcome> outcomes;
  bool refused = false;
  for (std::size_t s = 0; s < manifest.shards.size(); ++s) {
    std::vector<ImageRecord> expected;
    for (std::uint64_t index : manifest.shards[s].records) expected.push_back(records[index]);
    outcomes.push_back(shard_outcome(layout, manifest, s, expected));
    if (!is_finished(outcomes.back().state)) {
      report(outcomes.back().reason);
      refused = true;
    }
  }
  if (refused) {
    std::cerr << "Nothing merged. Rerun a shard with: quarrow-batch run-shard <model_folder> "
              << layout.folder() << " <shard number>" << std::endl;
    return result;
  }

  if (!ensure_folder(data.segm) || !ensure_folder(data.depthmap)) return result;
  bool images_failed = false;
  for (std::size_t s = 0; s < manifest.shards.size(); ++s) {
    if (!place_outputs(layout, s, outcomes[s].results, data)) return result;
    const std::vector<std::uint64_t>& indices = manifest.shards[s].records;
    for (std::size_t k = 0; k < indices.size(); ++k) {
      records[indices[k]].is_outdoor = outcomes[s].results[k].is_outdoor;
      records[indices[k]].sky_ratio = outcomes[s].results[k].sky_ratio;
    }
    if (outcomes[s].state == ShardState::kImagesFailed) images_failed = true;
  }

  // write_image_records replaces the file as a whole and reports a failed
  // write itself.
  bool written = false;
  try {
    written = write_image_records(data.outdoor_flag_json, records);
  } catch (const cereal::Exception& e) {
    report(data.outdoor_flag_json + ": " + e.what());
  }
  if (!written) return result;
  result.merged = true;
  if (images_failed) {
    for (std::size_t s = 0; s < outcomes.size(); ++s) {
      if (outcomes[s].state == ShardState::kImagesFailed) {
        report(WorkLayout::shard_name(s) + " could not analyse every image; its messages are in " +
               layout.shard_err_log(s));
      }
    }
    return result;
  }
  result.exit_code = 0;
  return result;
}

}  // namespace quarrow::batch
