#include "inference/depth_runners.h"

#include <cstring>

#include "inference/network_contract.h"
#include "inference/tensor_exchange.h"

namespace quarrow {

namespace {

// The indoor network's top and bottom 16 rows are replaced by the finishing step.
constexpr int kIndoorBandRows = 16;

bool run_depth(TF_Session* session, TF_Graph* graph, TF_Status* status, const cv::Mat& net_input,
               cv::Mat& depth_map, int first_row, int end_row) {
  const ExchangeParams params{kDepthInputOperation, kNetworkRows, kNetworkCols, CV_32FC1};
  const bool ran = exchange_tensors(
      session, graph, status, net_input, depth_map, params, [&](const float* depth) {
        for (int r = first_row; r < end_row; ++r) {
          std::memcpy(depth_map.ptr<float>(r), depth + static_cast<std::size_t>(r) * kNetworkCols,
                      kNetworkCols * sizeof(float));
        }
      });
  return !ran;
}

}  // namespace

bool run_indoor_depth(TF_Session* session, TF_Graph* graph, TF_Status* status,
                      const cv::Mat& net_input, cv::Mat& depth_map) {
  return run_depth(session, graph, status, net_input, depth_map, kIndoorBandRows,
                   kNetworkRows - kIndoorBandRows);
}

bool run_outdoor_depth(TF_Session* session, TF_Graph* graph, TF_Status* status,
                       const cv::Mat& net_input, cv::Mat& depth_map) {
  return run_depth(session, graph, status, net_input, depth_map, 0, kNetworkRows);
}

}  // namespace quarrow
