#include "inference/sky_segmentation.h"

#include <cstdint>

#include "inference/network_contract.h"
#include "inference/tensor_exchange.h"

namespace quarrow {

bool run_sky_segmentation(TF_Session* session, TF_Graph* graph, TF_Status* status,
                          const cv::Mat& net_input, cv::Mat& sky_mask) {
  const ExchangeParams params{kSegmentationInputOperation, net_input.rows, net_input.cols,
                              CV_8UC1};
  const bool ran = exchange_tensors(
      session, graph, status, net_input, sky_mask, params, [&](const float* scores) {
        for (int r = 0; r < params.rows; ++r) {
          std::uint8_t* row = sky_mask.ptr<std::uint8_t>(r);
          const float* row_scores = scores + static_cast<std::size_t>(r) * params.cols;
          for (int c = 0; c < params.cols; ++c) {
            row[c] = row_scores[c] > kScoreThreshold ? 1 : 0;
          }
        }
      });
  return !ran;
}

}  // namespace quarrow
