#include "model_roles.h"

#include "inference/network_contract.h"

namespace quarrow::models {

const std::vector<ModelRole>& model_roles() {
  const std::vector<int64_t> score(quarrow::kScoreOutputShape.begin(), quarrow::kScoreOutputShape.end());
  const std::vector<int64_t> depth(quarrow::kDepthOutputShape.begin(), quarrow::kDepthOutputShape.end());
  static const std::vector<ModelRole> roles = {
      {"sky", quarrow::kSkyModelFolder, quarrow::kSegmentationInputOperation, false, score},
      {"ground", quarrow::kGroundModelFolder, quarrow::kSegmentationInputOperation, false, score},
      {"indoor_depth", quarrow::kIndoorDepthModelFolder, quarrow::kDepthInputOperation, true, depth},
      {"outdoor_depth", quarrow::kOutdoorDepthModelFolder, quarrow::kDepthInputOperation, true, depth},
  };
  return roles;
}

const ModelRole* find_role(const std::string& name) {
  for (const ModelRole& role : model_roles()) {
    if (role.name == name) return &role;
  }
  return nullptr;
}

std::vector<int64_t> network_input_shape() {
  return {quarrow::kNetworkInputShape.begin(), quarrow::kNetworkInputShape.end()};
}

std::string network_output_op() { return quarrow::kOutputOperation; }

std::string dims_text(const std::vector<int64_t>& dims) {
  std::string s = "[";
  for (size_t k = 0; k < dims.size(); ++k) {
    s += (k ? "," : "") + (dims[k] < 0 ? std::string("?") : std::to_string(dims[k]));
  }
  return s + "]";
}

}  // namespace quarrow::models
