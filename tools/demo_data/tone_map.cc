#include "tone_map.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarrow::demo {
namespace {

// Rec. 709 luminance weights, in OpenCV's BGR channel order.
constexpr float kLumaB = 0.0722f;
constexpr float kLumaG = 0.7152f;
constexpr float kLumaR = 0.2126f;

constexpr double kPercentile = 0.99;
constexpr float kGamma = 1.0f / 2.2f;

// Linear value as the operator sees it: NaN and negatives are no light.
float clean(float v) { return (std::isnan(v) || v < 0.0f) ? 0.0f : v; }

float to_display(float linear, float scale) {
  const float x = clean(linear) * scale;
  if (std::isinf(x)) return 255.0f;
  const float reinhard = x / (1.0f + x);
  return std::clamp(255.0f * std::pow(reinhard, kGamma), 0.0f, 255.0f);
}

}  // namespace

float exposure_scale(const cv::Mat& hdr) {
  CV_Assert(hdr.type() == CV_32FC3);
  std::vector<float> luma;
  luma.reserve(hdr.total());
  for (int r = 0; r < hdr.rows; ++r) {
    const cv::Vec3f* row = hdr.ptr<cv::Vec3f>(r);
    for (int c = 0; c < hdr.cols; ++c) {
      const float y = kLumaB * clean(row[c][0]) + kLumaG * clean(row[c][1]) +
                      kLumaR * clean(row[c][2]);
      luma.push_back(y);
    }
  }
  if (luma.empty()) return 1.0f;
  // Nearest-rank percentile: the smallest value with at least 99 % of the
  // samples at or below it.
  const auto rank = static_cast<size_t>(std::ceil(kPercentile * static_cast<double>(luma.size())));
  const size_t k = std::clamp<size_t>(rank, 1, luma.size()) - 1;
  std::nth_element(luma.begin(), luma.begin() + static_cast<std::ptrdiff_t>(k), luma.end());
  const float p = luma[k];
  // An infinite percentile would zero the whole image; treat it like "no
  // usable exposure" and leave the values as they are.
  if (!(p > 0.0f) || std::isinf(p)) return 1.0f;
  return 1.0f / p;
}

void tone_map_to_8bit(const cv::Mat& hdr, cv::Mat& ldr) {
  CV_Assert(hdr.type() == CV_32FC3);
  const float scale = exposure_scale(hdr);
  ldr.create(hdr.size(), CV_8UC3);
  for (int r = 0; r < hdr.rows; ++r) {
    const cv::Vec3f* in = hdr.ptr<cv::Vec3f>(r);
    cv::Vec3b* out = ldr.ptr<cv::Vec3b>(r);
    for (int c = 0; c < hdr.cols; ++c) {
      for (int ch = 0; ch < 3; ++ch) {
        out[c][ch] = static_cast<uchar>(std::lround(to_display(in[c][ch], scale)));
      }
    }
  }
}

}  // namespace quarrow::demo
