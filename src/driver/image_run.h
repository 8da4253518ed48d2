// The body of a run after start-up: read the records, open the models, analyse
// every main image whose file exists, write outdoor_flag.json, release the
// models.
#pragma once

#include "driver/run_paths.h"

namespace quarrow {

// Returns the process exit code: 0 after a complete run in which every image
// was analysed and written, 1 otherwise. Every failure prints one line on
// std::cerr. A run that ends early releases no model.
int run_images(const RunPaths& paths);

}  // namespace quarrow
