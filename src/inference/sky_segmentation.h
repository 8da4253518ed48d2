// Sky segmentation runner: turns the sky network's per-pixel scores into a
// raw 0/1 sky mask.
#pragma once

#include <opencv2/core.hpp>
#include <tensorflow/c/c_api.h>

namespace quarrow {

// Runs the sky model on `net_input` (CV_32FC3; its own rows x cols give the
// tensor size) and writes 1 into `sky_mask` (CV_8UC1 of at least that size,
// through its row step) where the score is above 0.5, else 0. Elements
// outside rows x cols are not touched. Returns false after a run, true when
// the run did not happen or failed (the mask is then untouched).
bool run_sky_segmentation(TF_Session* session, TF_Graph* graph, TF_Status* status,
                          const cv::Mat& net_input, cv::Mat& sky_mask);

}  // namespace quarrow
