// The image loop of a run (see image_run.h).
//
// cereal's JSON archive header comes first: it decides how rapidjson reports
// its failures for the whole translation unit.
#include <cereal/archives/json.hpp>

#include "driver/image_run.h"

#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

#include "analysis/process_image.h"
#include "data/image_record.h"
#include "data/path_utils.h"
#include "driver/model_sessions.h"

namespace quarrow {
namespace {

// Loads one model and tests the load at once, so that a later model is only
// created once every earlier one has loaded.
bool open_model(const std::string& model_path, ModelSession& model) {
  model = load_model_session(model_path);
  if (TF_GetCode(model.status) == TF_OK) return true;
  std::cerr << "Error: loading saved_model failed." << std::endl;
  return false;
}

// Whatever handles are still open when the run returns (the statuses after a
// complete run, every loaded model after an early ending) stay open until the
// process ends.
class HeldUntilExit {
 public:
  explicit HeldUntilExit(std::initializer_list<const ModelSession*> models) : models_(models) {}
  HeldUntilExit(const HeldUntilExit&) = delete;
  HeldUntilExit& operator=(const HeldUntilExit&) = delete;
  ~HeldUntilExit() {
    for (const ModelSession* model : models_) hold_until_exit(*model);
  }

 private:
  std::vector<const ModelSession*> models_;
};

}  // namespace

int run_images(const RunPaths& paths) {
  std::vector<ImageRecord> records;
  try {
    read_image_records(paths.images_json_path, records);
  } catch (const cereal::Exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }

  ModelSession sky_session;
  ModelSession indoor_depth_session;
  ModelSession outdoor_depth_session;
  ModelSession ground_session;
  const HeldUntilExit held{&sky_session, &indoor_depth_session, &outdoor_depth_session,
                           &ground_session};
  if (!open_model(paths.sky_segm_model_path, sky_session) ||
      !open_model(paths.indoor_depth_model_path, indoor_depth_session) ||
      !open_model(paths.outdoor_depth_model_path, outdoor_depth_session) ||
      !open_model(paths.ground_segm_model_path, ground_session)) {
    return 1;
  }

  if (records.empty()) {
    std::cerr << "Error: no images found by parsing images.json" << std::endl;
    return 1;
  }

  // An image that cannot be analysed has printed its own line; the others
  // still run and the record list is still written.
  bool all_images_done = true;
  for (ImageRecord& record : records) {
    if (!record.is_main) continue;
    const std::string image_path = join_path(paths.images_folder, record.file_name);
    if (!is_file(image_path)) continue;
    if (!process_image(record, image_path, sky_session, ground_session, indoor_depth_session,
                       outdoor_depth_session, paths.segm_folder, paths.depthmap_folder)) {
      all_images_done = false;
    }
  }

  try {
    if (!write_image_records(paths.outdoor_flag_json_path, records)) return 1;
  } catch (const cereal::Exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }

  release_model_sessions(sky_session, ground_session, indoor_depth_session,
                         outdoor_depth_session);
  return all_images_done ? 0 : 1;
}

}  // namespace quarrow
