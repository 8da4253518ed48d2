#include "inference/tensor_exchange.h"

#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

namespace quarrow {

namespace {

constexpr int kChannels = 3;

// The input tensor reads the runner's own buffer, which the runner releases
// after the tensor is gone; the tensor must not free it.
void keep_buffer(void* /*data*/, std::size_t /*length*/, void* /*argument*/) {}

struct TensorDeleter {
  void operator()(TF_Tensor* tensor) const { TF_DeleteTensor(tensor); }
};
using TensorHandle = std::unique_ptr<TF_Tensor, TensorDeleter>;

bool input_fits(const cv::Mat& input, const ExchangeParams& params) {
  return input.type() == CV_32FC3 && input.rows == params.rows && input.cols == params.cols;
}

bool output_fits(const cv::Mat& output, const ExchangeParams& params) {
  return output.type() == params.output_type && output.rows >= params.rows &&
         output.cols >= params.cols;
}

// Copies the pixels row by row, so a region of a wider matrix works too.
void copy_input(const cv::Mat& input, float* buffer) {
  const std::size_t row_floats = static_cast<std::size_t>(input.cols) * kChannels;
  for (int r = 0; r < input.rows; ++r) {
    std::memcpy(buffer + row_floats * static_cast<std::size_t>(r), input.ptr<float>(r),
                row_floats * sizeof(float));
  }
}

}  // namespace

bool exchange_tensors(TF_Session* session, TF_Graph* graph, TF_Status* status,
                      const cv::Mat& input, const cv::Mat& output, const ExchangeParams& params,
                      const OutputConsumer& consume) {
  const std::size_t pixels =
      static_cast<std::size_t>(params.rows) * static_cast<std::size_t>(params.cols);
  std::vector<float> input_buffer(pixels * kChannels);
  // Declared after the buffer, so that on every way out the input tensor is
  // deleted first, then the fetched tensor, and the buffer last.
  TensorHandle output_tensor;

  TF_Operation* const input_operation = TF_GraphOperationByName(graph, params.input_operation);
  TF_Operation* const output_operation = TF_GraphOperationByName(graph, kOutputOperation);

  const TF_Code entry_code = TF_GetCode(status);
  if (entry_code != TF_OK) {
    std::cout << "TF_Error:" << static_cast<int>(entry_code) << "\n";
    return false;
  }
  if (input_operation == nullptr || output_operation == nullptr) {
    TF_SetStatus(status, TF_NOT_FOUND, "model graph lacks the input or the output operation");
    return false;
  }
  if (!input_fits(input, params) || !output_fits(output, params)) {
    TF_SetStatus(status, TF_INVALID_ARGUMENT,
                 "input or output matrix does not fit the model's tensor size");
    return false;
  }

  copy_input(input, input_buffer.data());
  const std::int64_t dims[4] = {1, params.rows, params.cols, kChannels};
  const std::size_t input_bytes = input_buffer.size() * sizeof(float);
  TensorHandle input_tensor(
      TF_NewTensor(TF_FLOAT, dims, 4, input_buffer.data(), input_bytes, keep_buffer, nullptr));
  if (!input_tensor) {
    TF_SetStatus(status, TF_INVALID_ARGUMENT, "input tensor could not be created");
    return false;
  }

  const TF_Output feed{input_operation, 0};
  const TF_Output fetch{output_operation, 0};
  TF_Tensor* const feed_values[1] = {input_tensor.get()};
  TF_Tensor* fetched = nullptr;
  TF_SessionRun(session, nullptr, &feed, feed_values, 1, &fetch, &fetched, 1, nullptr, 0,
                nullptr, status);
  output_tensor.reset(fetched);
  if (TF_GetCode(status) != TF_OK) {
    return false;
  }

  const std::size_t output_bytes = pixels * sizeof(float);
  if (!output_tensor || TF_TensorType(output_tensor.get()) != TF_FLOAT ||
      TF_TensorByteSize(output_tensor.get()) < output_bytes ||
      TF_TensorData(output_tensor.get()) == nullptr) {
    TF_SetStatus(status, TF_INVALID_ARGUMENT, "model output is not a float tensor of the expected size");
    return false;
  }

  std::vector<float> output_copy(pixels);
  std::memcpy(output_copy.data(), TF_TensorData(output_tensor.get()), output_bytes);
  consume(output_copy.data());

  // Release order: input tensor, fetched tensor, output copy, input buffer.
  input_tensor.reset();
  output_tensor.reset();
  return true;
}

}  // namespace quarrow
