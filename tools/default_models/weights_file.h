// Reads the weights the training scripts export for one default network:
// <name>.json (tensor names, shapes and byte offsets, the prior row profile,
// graph constants) next to <name>.bin (little-endian float32 values).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/status.h"

namespace quarrow::default_models {

struct NamedTensor {
  std::vector<int64_t> shape;
  std::vector<float> values;
};

struct NetworkWeights {
  std::string model;  // folder name, e.g. "sky_segm_model"
  std::string kind;   // "sky", "ground" or "depth"
  std::map<std::string, NamedTensor> tensors;  // "e0/kernel" (HWIO), "e0/bias"...
  NamedTensor prior;  // [1, rows, 1, 1]; empty for the sky network
  float depth_k = 0.0f;
};

// Reads <dir>/<model>.json and <dir>/<model>.bin. Fails when a file is
// missing, the manifest is malformed, or a tensor reaches past the data.
qtf::Status read_network_weights(const std::string& dir, const std::string& model,
                                 NetworkWeights* weights);

}  // namespace quarrow::default_models
