// The real onnx-tf export (PyTorch -> ONNX -> TensorFlow 2.11): NCHW input,
// Transposes around every convolution, Pad + depthwise convolutions, output
// at PartitionedCall:0. Run through the C API and compared with ONNX
// Runtime's output on the original network.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "kernel_npy.h"
#include "tensorflow/c/c_api.h"

namespace qtf {
namespace {

const std::string kFixtures = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels";

TEST(OnnxTfFixture, ClassifierMatchesOnnxRuntime) {
  const std::string model = kFixtures + "/onnxtf_mcunet_tf211";
  const std::string io = kFixtures + "/onnxtf_mcunet_tf211_io";
  if (!std::filesystem::exists(model + "/saved_model.pb") || !std::filesystem::exists(io + "/input.npy")) {
    GTEST_SKIP() << "fixture absent";
  }
  std::string error;
  const Tensor input = testing::read_npy(io + "/input.npy", &error);
  ASSERT_TRUE(error.empty()) << error;
  const Tensor expected = testing::read_npy(io + "/expected_output_onnxruntime.npy", &error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_EQ(input.shape(), (Shape{1, 3, 160, 160}));
  ASSERT_EQ(expected.shape(), (Shape{1, 1000}));

  TF_Status* status = TF_NewStatus();
  TF_SessionOptions* options = TF_NewSessionOptions();
  TF_Graph* graph = TF_NewGraph();
  const char* tags[] = {"serve"};
  TF_Session* session = TF_LoadSessionFromSavedModel(options, nullptr, model.c_str(), tags, 1, graph, nullptr, status);
  ASSERT_EQ(TF_GetCode(status), TF_OK) << TF_Message(status);

  TF_Output in{TF_GraphOperationByName(graph, "serving_default_input"), 0};
  TF_Output out{TF_GraphOperationByName(graph, "PartitionedCall"), 0};
  ASSERT_NE(in.oper, nullptr);
  ASSERT_NE(out.oper, nullptr);
  const int64_t dims[] = {1, 3, 160, 160};
  TF_Tensor* x = TF_AllocateTensor(TF_FLOAT, dims, 4, input.byte_size());
  std::memcpy(TF_TensorData(x), input.raw(), input.byte_size());
  TF_Tensor* y = nullptr;
  TF_SessionRun(session, nullptr, &in, &x, 1, &out, &y, 1, nullptr, 0, nullptr, status);
  TF_DeleteTensor(x);
  ASSERT_EQ(TF_GetCode(status), TF_OK) << TF_Message(status);
  ASSERT_EQ(TF_NumDims(y), 2);
  EXPECT_EQ(TF_Dim(y, 0), 1);
  ASSERT_EQ(TF_Dim(y, 1), 1000);
  const auto* got = static_cast<const float*>(TF_TensorData(y));
  const auto* want = static_cast<const float*>(expected.raw());
  double worst = 0.0;
  int top = 0;
  for (int k = 0; k < 1000; ++k) {
    worst = std::max(worst, std::fabs(static_cast<double>(got[k]) - want[k]));
    if (got[k] > got[top]) top = k;
  }
  EXPECT_LE(worst, 1e-5);
  EXPECT_EQ(top, 885);
  TF_DeleteTensor(y);
  TF_DeleteSession(session, status);
  TF_DeleteGraph(graph);
  TF_DeleteSessionOptions(options);
  TF_DeleteStatus(status);
}

}  // namespace
}  // namespace qtf
