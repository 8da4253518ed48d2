// The reference U-Net as a SavedModel for the built-in runtime (NHWC, HWIO
// filters), and a SavedModel loaded through the C API with a fixed input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_model.h"

namespace unet {

// A fresh folder under /tmp; "" when it cannot be made.
std::string make_temp_dir();

// Writes the network (input "input", output "output_0") into a fresh
// folder and returns it; "" on failure.
std::string write_savedmodel();

// One SavedModel loaded through the C API, fed `input` of shape `dims`.
class Model {
 public:
  Model(const std::string& dir, const std::vector<int64_t>& dims, const std::vector<float>& input);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Why loading or the last run failed ("" when they did not).
  const std::string& error() const { return error_; }

  // One TF_SessionRun; copies the output into `out` when given.
  bool run(std::vector<float>* out = nullptr);

  // CPU time of the whole process (every thread) so far.
  static double process_cpu_ms();

 private:
  quarrow::LoadedModel model_;
  TF_Tensor* input_ = nullptr;
  TF_Output feed_{}, fetch_{};
  std::string error_;
};

}  // namespace unet
