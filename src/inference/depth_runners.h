// Depth runners: copy the indoor or outdoor depth network's prediction into
// the image's depth map, bit for bit.
#pragma once

#include <opencv2/core.hpp>
#include <tensorflow/c/c_api.h>

namespace quarrow {

// Runs the indoor depth model on `net_input` (CV_32FC3, 256 x 512) and copies
// rows 16..239 of its output into the same rows of `depth_map` (CV_32FC1, at
// least 256 x 512, through its row step). Rows 0..15 and 240..255 are left
// for finish_depth_map. Returns false after a run, true when the run did not
// happen or failed (the map is then untouched).
bool run_indoor_depth(TF_Session* session, TF_Graph* graph, TF_Status* status,
                      const cv::Mat& net_input, cv::Mat& depth_map);

// As run_indoor_depth with the outdoor depth model, copying all 256 rows.
bool run_outdoor_depth(TF_Session* session, TF_Graph* graph, TF_Status* status,
                       const cv::Mat& net_input, cv::Mat& depth_map);

}  // namespace quarrow
