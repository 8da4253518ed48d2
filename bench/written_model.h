// A SavedModel folder written for a benchmark and loaded through the C API;
// the folder goes when the model does.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "loaded_model.h"

namespace bench {

// A fresh, empty temporary path for the model called `name`.
inline std::string temp_model_dir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("qtf_bench_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  return dir.string();
}

// Removes its folder when it goes.
struct RemovedAtEnd {
  std::string dir;
  ~RemovedAtEnd() { std::filesystem::remove_all(dir); }
};

// The model at `dir`, loaded; the folder is removed after the model is
// released (bases go in reverse order).
class WrittenModel : private RemovedAtEnd, public quarrow::LoadedModel {
 public:
  explicit WrittenModel(const std::string& folder) : RemovedAtEnd{folder}, quarrow::LoadedModel(folder) {}
};

}  // namespace bench
