// Start-up checks of the run (see run_paths.h).
#include "driver/run_paths.h"

#include <iostream>

#include "data/path_utils.h"
#include "inference/network_contract.h"

namespace quarrow {
namespace {

bool fail(const std::string& message) {
  std::cerr << message << std::endl;
  return false;
}

// A missing output folder is created; only one level, under an existing caches
// folder. The rendered folder ends in a separator, hence no blank before
// "can't be created".
bool ensure_output_folder(const std::string& folder) {
  if (is_directory(folder) || make_directory(folder)) return true;
  return fail("Error: folder " + folder + "can't be created");
}

}  // namespace

bool prepare_run_paths(int argc, const char* const argv[], RunPaths& paths) {
  if (argc < 3) return fail("Error: no enough params specified");

  const std::string model_folder = argv[1];
  const std::string data_folder = argv[2];

  if (model_folder.empty()) return fail("Error: no model folder specified");
  paths.sky_segm_model_path = join_path(model_folder, kSkyModelFolder);
  paths.indoor_depth_model_path = join_path(model_folder, kIndoorDepthModelFolder);
  paths.outdoor_depth_model_path = join_path(model_folder, kOutdoorDepthModelFolder);
  paths.ground_segm_model_path = join_path(model_folder, kGroundModelFolder);

  if (data_folder.empty()) return fail("Error: no data path specified");

  paths.caches_folder = join_dir(data_folder, "caches");
  if (!is_directory(paths.caches_folder)) {
    return fail("Error: folder " + paths.caches_folder + " doesn't exist");
  }
  paths.images_folder = join_dir(paths.caches_folder, "images");
  if (!is_directory(paths.images_folder)) {
    return fail("Error: folder " + paths.images_folder + " doesn't exist");
  }
  paths.segm_folder = join_dir(paths.caches_folder, "segm");
  if (!ensure_output_folder(paths.segm_folder)) return false;
  paths.depthmap_folder = join_dir(paths.caches_folder, "depthmap");
  if (!ensure_output_folder(paths.depthmap_folder)) return false;

  paths.images_json_path = join_path_ext(paths.caches_folder, "images", "json");
  if (!is_file(paths.images_json_path)) {
    return fail("Error: file " + paths.images_json_path + " doesn't exist");
  }
  paths.outdoor_flag_json_path = join_path_ext(paths.caches_folder, "outdoor_flag", "json");
  return true;
}

}  // namespace quarrow
