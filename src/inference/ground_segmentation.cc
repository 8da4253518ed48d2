#include "inference/ground_segmentation.h"

#include <cstdint>
#include <iostream>

#include "inference/network_contract.h"
#include "inference/tensor_exchange.h"

namespace quarrow {

namespace {

constexpr int kForcedGroundRows = kNetworkRows / 8;  // the bottom 32 rows
constexpr float kPerPixel = 0.00000762939453125f;     // 2^-17 = 1 / (256 * 512)
constexpr float kSkippedResult = 1.0f;

// Each hit is added in double and rounded back to single precision. Every
// count up to 131072 (< 2^24) is held exactly that way, so this is an exact
// integer count in a float.
float count_ground(const float* scores) {
  float count = 0.0f;
  for (int i = 0; i < kNetworkRows * kNetworkCols; ++i) {
    if (scores[i] > kScoreThreshold) {
      count = static_cast<float>(static_cast<double>(count) + 1.0);
    }
  }
  return count;
}

}  // namespace

float run_ground_segmentation(TF_Session* session, TF_Graph* graph, TF_Status* status,
                              const cv::Mat& net_input, cv::Mat& ground_mask) {
  const ExchangeParams params{kSegmentationInputOperation, kNetworkRows, kNetworkCols,
                              CV_8UC1};
  float ratio = kSkippedResult;
  exchange_tensors(session, graph, status, net_input, ground_mask, params,
                   [&](const float* scores) {
                     const float count = count_ground(scores);
                     // count * 2^-17 is exact, so the ratio is count * 100
                     // rounded once to single precision; the printed line is
                     // compared with earlier runs' output, so any rewrite
                     // must keep that single rounding.
                     const float share = count * kPerPixel;
                     ratio = share * 100.0f;
                     std::cout << "ground ratio: " << ratio << "%" << std::endl;

                     for (int r = 0; r < kNetworkRows - kForcedGroundRows; ++r) {
                       std::uint8_t* row = ground_mask.ptr<std::uint8_t>(r);
                       const float* row_scores = scores + static_cast<std::size_t>(r) * kNetworkCols;
                       for (int c = 0; c < kNetworkCols; ++c) {
                         row[c] = row_scores[c] > kScoreThreshold ? 1 : 0;
                       }
                     }
                     for (int r = kNetworkRows - kForcedGroundRows; r < kNetworkRows; ++r) {
                       std::uint8_t* row = ground_mask.ptr<std::uint8_t>(r);
                       for (int c = 0; c < kNetworkCols; ++c) {
                         row[c] = 1;
                       }
                     }
                   });
  return ratio;
}

}  // namespace quarrow
