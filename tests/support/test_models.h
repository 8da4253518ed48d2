// Ready-made SavedModels for tests: tiny networks that meet the contract of the
// four quarrow models (float input [1,H,W,3] fed at "serving_default_input" or
// "serving_default_inputs", output at "StatefulPartitionedCall:0"), whose
// outputs are a chosen input channel, so a test decides the model output
// exactly through the image it feeds.
#pragma once

#include <string>
#include <vector>

#include "core/status.h"
#include "inference/network_contract.h"

namespace qsm {

// Segmentation model: output [1,H,W,1] with score = scale * x[..., channel] + offset,
// for any H and W. With scale 1 and offset 0 the score is the channel's value bit for bit.
struct SegmentationModelSpec {
  int channel = 0;
  float scale = 1.0f;
  float offset = 0.0f;
  std::string input_name = quarrow::kSegmentationInputName;  // op "serving_default_<input_name>"
};
qtf::Status write_segmentation_model(const std::string& dir, const SegmentationModelSpec& params = {});

// Depth model: output [1,1,256,512] = x[0, :, :, channel] bit for bit (so a test
// can plant negative values, zeros or NaN through the input). Needs a
// [1,256,512,3] input.
struct DepthModelSpec {
  int channel = 0;
  std::string input_name = quarrow::kDepthInputName;  // op "serving_default_<input_name>"
};
qtf::Status write_depth_model(const std::string& dir, const DepthModelSpec& params = {});

// A model that loads but whose every run fails (a Reshape to a shape no input
// fits, found only at run time).
qtf::Status write_failing_model(const std::string& dir,
                                const std::string& input_name = quarrow::kSegmentationInputName);

// A segmentation model whose input op is "serving_default_image", so the
// contract's "serving_default_input"/"serving_default_inputs" is missing.
qtf::Status write_model_without_contract_input(const std::string& dir);

// A network that almost meets the contract, exported the way other tools do,
// for `quarrow-models adapt`: a 1x1 convolution with variable weights, so
// output channel c = sum_i x_i * weights[i * channels + c] + bias[c] per pixel,
// for a [1,256,512,3] image fed in NHWC or NCHW.
struct ForeignModelSpec {
  std::string input_name = "image";  // op "serving_default_<input_name>"
  bool nchw_input = true;            // [-1,3,256,512], as PyTorch conversions take it
  bool nchw_output = true;           // [-1,C,256,512], else [-1,256,512,C]
  int channels = 2;
  std::vector<float> weights = {0, 0, 0, 0, 0, 1};  // 3 x channels; default: class 1 = blue
  std::vector<float> bias = {0, 0};
  std::string output_name = "logits";
  bool output_shape_known = true;  // else the signature says unknown rank
  bool second_output = false;      // also "aux" = input channel 0, ahead of it in key order
  // Where the output ends up: "StatefulPartitionedCall" (Keras 2),
  // "StatefulPartitionedCall_1" (Keras 3) or "PartitionedCall" (onnx-tf).
  std::string call_name = "StatefulPartitionedCall";
};
qtf::Status write_foreign_model(const std::string& dir, const ForeignModelSpec& params = {});

// A whole model folder as quarrow reads it: "sky_segm_model",
// "ground_segm_model", "indoor_depth_model" and "outdoor_depth_model" made
// with the specs below (defaults: sky = channel 2, ground = channel 1, depth = channel 0).
struct ModelFolderSpec {
  SegmentationModelSpec sky{2, 1.0f, 0.0f, quarrow::kSegmentationInputName};
  SegmentationModelSpec ground{1, 1.0f, 0.0f, quarrow::kSegmentationInputName};
  DepthModelSpec indoor_depth{0, quarrow::kDepthInputName};
  DepthModelSpec outdoor_depth{0, quarrow::kDepthInputName};
};
qtf::Status write_model_folder(const std::string& folder, const ModelFolderSpec& params = {});

}  // namespace qsm
