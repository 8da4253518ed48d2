// What the system requires of the four SavedModels it runs: the folders they
// live in, the names of their input operations, the fixed tensor size of the
// networks and the shapes of their inputs and outputs. Constants only, so the
// tools can use them without linking the inference code.
//
// Every model takes one float32 tensor [1, rows, cols, 3] (normalised RGB)
// and delivers float32 values at output 0 of "StatefulPartitionedCall", laid
// out row by row. Segmentation outputs are scores (above 0.5 counts), depth
// outputs are depths in the model's own unit.
#pragma once

#include <array>
#include <cstdint>

namespace quarrow {

// Folders of the four networks inside the model folder.
inline constexpr char kSkyModelFolder[] = "sky_segm_model";
inline constexpr char kGroundModelFolder[] = "ground_segm_model";
inline constexpr char kIndoorDepthModelFolder[] = "indoor_depth_model";
inline constexpr char kOutdoorDepthModelFolder[] = "outdoor_depth_model";

// Signature input names; a SavedModel feeds an input named N at the
// placeholder operation "serving_default_" + N.
inline constexpr char kSegmentationInputName[] = "input";
inline constexpr char kDepthInputName[] = "inputs";
inline constexpr char kSegmentationInputOperation[] = "serving_default_input";
inline constexpr char kDepthInputOperation[] = "serving_default_inputs";
// The operation whose output 0 every model delivers its result at.
inline constexpr char kOutputOperation[] = "StatefulPartitionedCall";

// Size the ground and depth networks always work on (the sky network takes
// the size of the prepared image, which is the same in this system).
inline constexpr int kNetworkRows = 256;
inline constexpr int kNetworkCols = 512;
inline constexpr int kNetworkChannels = 3;

// float32 [1, rows, cols, 3], NHWC.
inline constexpr std::array<std::int64_t, 4> kNetworkInputShape = {1, kNetworkRows, kNetworkCols,
                                                                   kNetworkChannels};
// A segmentation network's scores: [1, rows, cols, 1].
inline constexpr std::array<std::int64_t, 4> kScoreOutputShape = {1, kNetworkRows, kNetworkCols, 1};
// A depth network's depths: [1, 1, rows, cols].
inline constexpr std::array<std::int64_t, 4> kDepthOutputShape = {1, 1, kNetworkRows, kNetworkCols};

// The tag the models are loaded with.
inline constexpr char kServingTag[] = "serve";
// The session config they are loaded with: a serialized ConfigProto whose
// gpu_options (field 6, length-delimited, 2 bytes) hold allow_growth (field
// 4, varint) = true. Everything else stays at TensorFlow's defaults.
inline constexpr char kSessionConfig[] = {0x32, 0x02, 0x20, 0x01};

// A score above this counts (strictly; 0.5 and NaN do not).
inline constexpr float kScoreThreshold = 0.5f;

}  // namespace quarrow
