// Tensor exchange: the one sequence by which every model runner moves a
// prepared image through a SavedModel and reads its single output back.
//
// Nothing is kept between calls: the graph operations are looked up again,
// the buffers and tensors are created and everything is released before the
// call returns, on every path. Only the model's status carries over, so once
// it holds an error every later call of that model prints "TF_Error:<code>"
// and is skipped.
#pragma once

#include <functional>

#include <opencv2/core.hpp>
#include <tensorflow/c/c_api.h>

#include "inference/network_contract.h"

namespace quarrow {

// What one runner puts into the exchange.
struct ExchangeParams {
  const char* input_operation;  // fed at index 0
  int rows;                     // input dims [1, rows, cols, 3]
  int cols;                     // output read as rows x cols floats
  int output_type;              // OpenCV type the runner's output matrix must have
};

// Receives the output copy: rows x cols floats, element (r, c) at r * cols + c.
using OutputConsumer = std::function<void(const float* output_copy)>;

// Runs `input` (a CV_32FC3 matrix of params.rows x params.cols) through the
// model once and hands the output copy to `consume`, which writes `output`.
// Returns true when `consume` ran. Otherwise `output` is untouched and:
//   - the status held an error on entry: "TF_Error:<code>\n" on std::cout;
//   - the graph lacks the input operation or the output operation: status
//     set to TF_NOT_FOUND;
//   - `input` or `output` does not fit the params, or the fetched tensor is
//     not TF_FLOAT or holds fewer than rows x cols floats: status set to
//     TF_INVALID_ARGUMENT;
//   - the run itself failed: the status keeps the run's code.
// The status is only read and set, never cleared.
bool exchange_tensors(TF_Session* session, TF_Graph* graph, TF_Status* status,
                      const cv::Mat& input, const cv::Mat& output, const ExchangeParams& params,
                      const OutputConsumer& consume);

}  // namespace quarrow
