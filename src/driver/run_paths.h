// RunPaths: every path of one run, formed once at start-up from the command
// line, and the start-up checks that must pass before anything is loaded.
#pragma once

#include <string>

namespace quarrow {

struct RunPaths {
  std::string sky_segm_model_path;
  std::string indoor_depth_model_path;
  std::string outdoor_depth_model_path;
  std::string ground_segm_model_path;
  std::string caches_folder;
  std::string images_folder;
  std::string segm_folder;
  std::string depthmap_folder;
  std::string images_json_path;
  std::string outdoor_flag_json_path;
};

// Reads `quarrow <model_folder> <data_folder>` (further arguments ignored),
// forms `paths`, checks that the caches and images folders and images.json
// exist, and creates the segm and depthmap folders when missing. The first
// failing check prints its "Error: " line on std::cerr and returns false;
// later checks are not made. Nothing is written to std::cout.
bool prepare_run_paths(int argc, const char* const argv[], RunPaths& paths);

}  // namespace quarrow
