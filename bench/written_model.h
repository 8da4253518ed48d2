// A SavedModel folder written for a benchmark and loaded through the C API;
// the folder goes when the model does.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "tensorflow/c/c_api.h"

namespace bench {

// A fresh, empty temporary path for the model called `name`.
inline std::string temp_model_dir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("qtf_bench_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  return dir.string();
}

struct LoadedModel {
  TF_Status* status = TF_NewStatus();
  TF_SessionOptions* options = TF_NewSessionOptions();
  TF_Graph* graph = TF_NewGraph();
  TF_Session* session = nullptr;
  std::string dir;

  explicit LoadedModel(const std::string& d) : dir(d) {
    const char* tags[] = {"serve"};
    session = TF_LoadSessionFromSavedModel(options, nullptr, dir.c_str(), tags, 1, graph, nullptr, status);
  }
  ~LoadedModel() {
    if (session != nullptr) TF_DeleteSession(session, status);
    TF_DeleteGraph(graph);
    TF_DeleteSessionOptions(options);
    TF_DeleteStatus(status);
    std::filesystem::remove_all(dir);
  }
  LoadedModel(const LoadedModel&) = delete;
  LoadedModel& operator=(const LoadedModel&) = delete;
};

}  // namespace bench
