#include "model_roles.h"

#include "inference/network_contract.h"

namespace qmodels {

const std::vector<ModelRole>& model_roles() {
  constexpr int64_t rows = quarrow::kNetworkRows, cols = quarrow::kNetworkCols;
  static const std::vector<ModelRole> roles = {
      {"sky", "sky_segm_model", quarrow::kSegmentationInputOperation, false, {1, rows, cols, 1}},
      {"ground", "ground_segm_model", quarrow::kSegmentationInputOperation, false, {1, rows, cols, 1}},
      {"indoor_depth", "indoor_depth_model", quarrow::kDepthInputOperation, true, {1, 1, rows, cols}},
      {"outdoor_depth", "outdoor_depth_model", quarrow::kDepthInputOperation, true, {1, 1, rows, cols}},
  };
  return roles;
}

const ModelRole* find_role(const std::string& name) {
  for (const ModelRole& role : model_roles()) {
    if (role.name == name) return &role;
  }
  return nullptr;
}

std::vector<int64_t> network_input_shape() { return {1, quarrow::kNetworkRows, quarrow::kNetworkCols, 3}; }

std::string network_output_op() { return quarrow::kOutputOperation; }

std::string dims_text(const std::vector<int64_t>& dims) {
  std::string s = "[";
  for (size_t k = 0; k < dims.size(); ++k) {
    s += (k ? "," : "") + (dims[k] < 0 ? std::string("?") : std::to_string(dims[k]));
  }
  return s + "]";
}

}  // namespace qmodels
