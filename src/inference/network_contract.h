// What the system requires of the four SavedModels it runs: the names of
// their input operations and the fixed tensor size of the networks.
//
// Every model takes one float32 tensor [1, rows, cols, 3] (normalised RGB)
// and delivers float32 values at output 0 of "StatefulPartitionedCall", laid
// out row by row. Segmentation outputs are scores (above 0.5 counts), depth
// outputs are depths in the model's own unit.
#pragma once

namespace quarrow {

inline constexpr char kSegmentationInputOperation[] = "serving_default_input";
inline constexpr char kDepthInputOperation[] = "serving_default_inputs";
// The operation whose output 0 every model delivers its result at.
inline constexpr char kOutputOperation[] = "StatefulPartitionedCall";

// Size the ground and depth networks always work on (the sky network takes
// the size of the prepared image, which is the same in this system).
inline constexpr int kNetworkRows = 256;
inline constexpr int kNetworkCols = 512;

// A score above this counts (strictly; 0.5 and NaN do not).
inline constexpr float kScoreThreshold = 0.5f;

}  // namespace quarrow
