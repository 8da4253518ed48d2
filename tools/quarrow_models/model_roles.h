// The four networks quarrow runs, as roles: the folder each one lives in, the
// operation it is fed at and the output shape it must deliver, all taken from
// the network contract.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarrow::models {

struct ModelRole {
  std::string name;      // "sky", "ground", "indoor_depth", "outdoor_depth"
  std::string folder;    // "sky_segm_model", ...
  std::string input_op;  // "serving_default_input" or "serving_default_inputs"
  bool depth = false;    // depth [1,1,rows,cols], else a score [1,rows,cols,1]
  std::vector<int64_t> output_shape;
};

// In the order quarrow's check lists them: sky, ground, indoor and outdoor depth.
const std::vector<ModelRole>& model_roles();
// nullptr for an unknown name.
const ModelRole* find_role(const std::string& name);

// The network input every role takes: float [1, rows, cols, 3].
std::vector<int64_t> network_input_shape();
// The operation every role delivers its output at (output 0).
std::string network_output_op();

// "[1,256,512,1]", with "?" for an unknown (-1) dimension.
std::string dims_text(const std::vector<int64_t>& dims);

}  // namespace quarrow::models
