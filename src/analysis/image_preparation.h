// Image preparation: decodes one panorama and brings it to the working size
// of the analysis, 512 x 256, as the normalised network input, together with
// the two result buffers of the image.
#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "inference/network_contract.h"

namespace quarrow {

// Working size of every per-image matrix after preparation: the networks' size.
constexpr int kWorkingWidth = kNetworkCols;
constexpr int kWorkingHeight = kNetworkRows;

// Decodes `image_path` (a rendered path text) as 8-bit BGR and fills:
//   panorama   the decoded image, resized to 2048 x 1024 first unless it is
//              exactly 2048 wide, then to 512 x 256 (INTER_LINEAR both times);
//   net_input  CV_32FC3, RGB, each channel (v / 255 - mean) / std;
//   depth_map  CV_32FC1 of net_input's size, all 0;
//   sky_mask   CV_8UC1 of net_input's size, all 0 (so a sky run that is
//              skipped leaves a defined "no sky" mask).
// Returns false, touching none of the outputs but `panorama`, when the file
// decodes to an empty image (unreadable or not an image).
bool prepare_panorama(const std::string& image_path, cv::Mat& panorama, cv::Mat& net_input,
                      cv::Mat& depth_map, cv::Mat& sky_mask);

// The steps of prepare_panorama after decoding: `panorama` (8-bit BGR, not
// empty) is resized in place and the other three matrices are made from it.
void prepare_decoded_panorama(cv::Mat& panorama, cv::Mat& net_input, cv::Mat& depth_map,
                              cv::Mat& sky_mask);

// Normalises a CV_32FC3 RGB image of values in [0, 1] in place with the
// per-channel means and standard deviations the networks were trained with,
// in single precision.
void normalise_network_input(cv::Mat& net_input);

}  // namespace quarrow
