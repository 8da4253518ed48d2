#include "report_images.h"

#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace quarrow::report {

namespace {

constexpr cv::ColormapTypes kColourMap = cv::COLORMAP_VIRIDIS;

// Sky tint (BGR): a warm magenta that natural skies never have.
const cv::Vec3b kSkyTint(220, 40, 255);
constexpr float kTintWeight = 0.45f;

}  // namespace

void make_thumbnail(const cv::Mat& panorama, cv::Mat& thumb) {
  cv::resize(panorama, thumb, cv::Size(kThumbWidth, kThumbHeight), 0, 0, cv::INTER_AREA);
}

void make_sky_overlay(const cv::Mat& thumb, const cv::Mat& mask, cv::Mat& overlay) {
  CV_Assert(thumb.type() == CV_8UC3 && mask.type() == CV_8UC1 && !mask.empty());
  cv::Mat sky;
  if (mask.size() == thumb.size()) {
    sky = mask;
  } else {
    cv::resize(mask, sky, thumb.size(), 0, 0, cv::INTER_NEAREST);
  }
  overlay.create(thumb.size(), CV_8UC3);
  for (int r = 0; r < thumb.rows; ++r) {
    const cv::Vec3b* in = thumb.ptr<cv::Vec3b>(r);
    const uchar* m = sky.ptr<uchar>(r);
    cv::Vec3b* out = overlay.ptr<cv::Vec3b>(r);
    for (int c = 0; c < thumb.cols; ++c) {
      if (m[c] == 0) {
        out[c] = in[c];
        continue;
      }
      for (int ch = 0; ch < 3; ++ch) {
        out[c][ch] = cv::saturate_cast<uchar>((1.0f - kTintWeight) * in[c][ch] +
                                              kTintWeight * kSkyTint[ch]);
      }
    }
  }
  cv::Mat binary = sky != 0;
  std::vector<std::vector<cv::Point>> outlines;
  cv::findContours(binary, outlines, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
  cv::drawContours(overlay, outlines, -1, cv::Scalar(kSkyTint), 1, cv::LINE_8);
}

void make_depth_image(const cv::Mat& depth, const DepthRange& range, cv::Mat& coloured) {
  CV_Assert(depth.type() == CV_32FC1);
  // A flat map (min == max) is drawn at the low end of the scale.
  const float span = range.max - range.min;
  const float scale = span > 0.0f ? 255.0f / span : 0.0f;
  cv::Mat levels(depth.size(), CV_8UC1);
  cv::Mat has_depth(depth.size(), CV_8UC1);
  for (int r = 0; r < depth.rows; ++r) {
    const float* d = depth.ptr<float>(r);
    uchar* level = levels.ptr<uchar>(r);
    uchar* valid = has_depth.ptr<uchar>(r);
    for (int c = 0; c < depth.cols; ++c) {
      const bool ok = range.valid && std::isfinite(d[c]) && d[c] > 0.0f;
      valid[c] = ok ? 255 : 0;
      level[c] = ok ? cv::saturate_cast<uchar>((d[c] - range.min) * scale) : 0;
    }
  }
  cv::applyColorMap(levels, coloured, kColourMap);
  coloured.setTo(kNoDepthColour, has_depth == 0);
}

void make_colour_bar(cv::Mat& bar) {
  cv::Mat ramp(kColourBarHeight, kColourBarWidth, CV_8UC1);
  for (int r = 0; r < ramp.rows; ++r) {
    uchar* row = ramp.ptr<uchar>(r);
    for (int c = 0; c < ramp.cols; ++c) {
      row[c] = static_cast<uchar>(c * 255 / (kColourBarWidth - 1));
    }
  }
  cv::applyColorMap(ramp, bar, kColourMap);
}

}  // namespace quarrow::report
