// Ground segmentation runner: measures and prints the share of the image the
// ground network takes for ground, and writes a 0/1 ground mask whose bottom
// 32 rows always count as ground.
#pragma once

#include <opencv2/core.hpp>
#include <tensorflow/c/c_api.h>

namespace quarrow {

// Runs the ground model on `net_input` (CV_32FC3, 256 x 512) and
//   - counts the scores above 0.5 over all 256 rows and prints
//     "ground ratio: <count / 131072 * 100>%" on std::cout;
//   - writes `ground_mask` (CV_8UC1, at least 256 x 512, through its row step):
//     rows 0..223 are 1 where the score is above 0.5, else 0; rows 224..255 are 1.
// Returns the ground ratio in percent, or 1.0 when the run did not happen or
// failed (nothing printed but a possible "TF_Error:" line, mask untouched).
float run_ground_segmentation(TF_Session* session, TF_Graph* graph, TF_Status* status,
                              const cv::Mat& net_input, cv::Mat& ground_mask);

}  // namespace quarrow
