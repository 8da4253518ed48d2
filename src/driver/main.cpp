// quarrow <model_folder> <data_folder>: analyses the panoramas of
// <data_folder>/caches with the four networks of <model_folder>.
#include <cereal/archives/json.hpp>

#include <iostream>
#include <vector>

#include "data/image_record.h"
#include "driver/run_paths.h"

int main(int argc, char* argv[]) {
  quarrow::RunPaths paths;
  if (!quarrow::prepare_run_paths(argc, argv, paths)) return 1;

  std::vector<quarrow::ImageRecord> records;
  try {
    quarrow::read_image_records(paths.images_json_path, records);
  } catch (const cereal::Exception& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
