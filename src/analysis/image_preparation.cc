#include "analysis/image_preparation.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "data/path_utils.h"

namespace quarrow {

namespace {

// Panoramas of any other width are first brought to this size; the two-step
// resampling is part of what the networks expect.
constexpr int kNormalWidth = 2048;
constexpr int kNormalHeight = 1024;

constexpr double kByteToUnit = 0.00392156862745098;  // 1 / 255

// Single-precision constants, and a subtraction then a division per value
// below: the network input must be bit for bit what the networks were
// validated on. Multiplying by a precomputed 1 / std gives other bits, and
// scores next to the 0.5 threshold can then flip mask pixels and ratios.
constexpr float kChannelMean[3] = {0.485f, 0.456f, 0.406f};
constexpr float kChannelStd[3] = {0.229f, 0.224f, 0.225f};

}  // namespace

void normalise_network_input(cv::Mat& net_input) {
  CV_Assert(net_input.type() == CV_32FC3);
  for (int r = 0; r < net_input.rows; ++r) {
    cv::Vec3f* row = net_input.ptr<cv::Vec3f>(r);
    for (int c = 0; c < net_input.cols; ++c) {
      for (int k = 0; k < 3; ++k) {
        row[c][k] = (row[c][k] - kChannelMean[k]) / kChannelStd[k];
      }
    }
  }
}

bool prepare_panorama(const std::string& image_path, cv::Mat& panorama, cv::Mat& net_input,
                      cv::Mat& depth_map, cv::Mat& sky_mask) {
  try {
    panorama = cv::imread(native_path(image_path), cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    // Some decoders reject damaged headers by raising; that is the same
    // outcome as a file that decodes to nothing.
    panorama.release();
  }
  if (panorama.empty()) {
    return false;
  }
  prepare_decoded_panorama(panorama, net_input, depth_map, sky_mask);
  return true;
}

void prepare_decoded_panorama(cv::Mat& panorama, cv::Mat& net_input, cv::Mat& depth_map,
                              cv::Mat& sky_mask) {
  if (panorama.cols != kNormalWidth) {
    cv::resize(panorama, panorama, cv::Size(kNormalWidth, kNormalHeight), 0, 0,
               cv::INTER_LINEAR);
  }
  cv::resize(panorama, panorama, cv::Size(kWorkingWidth, kWorkingHeight), 0, 0,
             cv::INTER_LINEAR);

  cv::cvtColor(panorama, net_input, cv::COLOR_BGR2RGB, 0);
  net_input.convertTo(net_input, CV_32FC3, kByteToUnit, 0);
  depth_map = cv::Mat::zeros(net_input.size(), CV_32FC1);
  normalise_network_input(net_input);
  sky_mask = cv::Mat::zeros(net_input.size(), CV_8UC1);
}

}  // namespace quarrow
