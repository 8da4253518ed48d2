// quarrow <model_folder> <data_folder>: analyses the panoramas of
// <data_folder>/caches with the four networks of <model_folder>.
#include "driver/image_run.h"
#include "driver/run_paths.h"

int main(int argc, char* argv[]) {
  quarrow::RunPaths paths;
  if (!quarrow::prepare_run_paths(argc, argv, paths)) return 1;
  return quarrow::run_images(paths);
}
