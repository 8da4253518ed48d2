// quarrow-build-default-models: writes the four default SavedModels from the
// weights that models/training/train.py exports.
//
//   quarrow-build-default-models <weights_dir> <model_folder>
//
// Reads <weights_dir>/<model>.json and .bin for sky_segm_model,
// ground_segm_model, indoor_depth_model and outdoor_depth_model and writes
// <model_folder>/<model>/ for each. Exit 0 when all four were written,
// 1 on any failure, 2 on bad arguments.
#include <iostream>
#include <string>

#include "inference/network_contract.h"
#include "network_graph.h"
#include "savedmodel_writer.h"
#include "weights_file.h"

namespace {

const char* const kModels[] = {quarrow::kSkyModelFolder, quarrow::kGroundModelFolder,
                               quarrow::kIndoorDepthModelFolder, quarrow::kOutdoorDepthModelFolder};

qtf::Status write_model(const std::string& weights_dir, const std::string& out_dir,
                        const std::string& model) {
  quarrow::default_models::NetworkWeights weights;
  QTF_RETURN_IF_ERROR(quarrow::default_models::read_network_weights(weights_dir, model, &weights));
  qsm::ModelBuilder builder;
  QTF_RETURN_IF_ERROR(quarrow::default_models::build_network(weights, &builder));
  return builder.save(out_dir + "/" + model);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quarrow-build-default-models <weights_dir> <model_folder>\n";
    return 2;
  }
  int failures = 0;
  for (const char* model : kModels) {
    const qtf::Status s = write_model(argv[1], argv[2], model);
    if (s.is_ok()) {
      std::cout << "wrote " << argv[2] << "/" << model << "\n";
    } else {
      std::cerr << "Error: " << model << ": " << s.message() << "\n";
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
