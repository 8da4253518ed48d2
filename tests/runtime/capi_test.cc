// C API objects and their ownership rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "saved_model_test_util.h"
#include "temp_dir.h"
#include "tensorflow/c/c_api.h"

namespace {

struct Released {
  int calls = 0;
  void* data = nullptr;
  size_t len = 0;
};

void record_release(void* data, size_t len, void* arg) {
  auto* r = static_cast<Released*>(arg);
  ++r->calls;
  r->data = data;
  r->len = len;
}

TEST(CapiStatus, SetGetAndClear) {
  TF_Status* s = TF_NewStatus();
  EXPECT_EQ(TF_GetCode(s), TF_OK);
  EXPECT_STREQ(TF_Message(s), "");
  TF_SetStatus(s, TF_DATA_LOSS, "bad block");
  EXPECT_EQ(TF_GetCode(s), TF_DATA_LOSS);
  EXPECT_STREQ(TF_Message(s), "bad block");
  TF_SetStatus(s, TF_OK, "ignored");
  EXPECT_EQ(TF_GetCode(s), TF_OK);
  EXPECT_STREQ(TF_Message(s), "");
  TF_DeleteStatus(s);
}

TEST(CapiBuffer, CopiesStringAndFreesOnDelete) {
  const char bytes[] = {1, 2, 3};
  TF_Buffer* b = TF_NewBufferFromString(bytes, 3);
  ASSERT_NE(b->data, nullptr);
  EXPECT_NE(b->data, static_cast<const void*>(bytes));
  EXPECT_EQ(b->length, 3u);
  EXPECT_EQ(std::memcmp(b->data, bytes, 3), 0);
  TF_DeleteBuffer(b);
  TF_Buffer* empty = TF_NewBuffer();
  EXPECT_EQ(empty->data, nullptr);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_EQ(empty->data_deallocator, nullptr);
  TF_DeleteBuffer(empty);
  TF_DeleteBuffer(nullptr);
}

TEST(CapiTensor, DeallocatorRunsOnceAtDelete) {
  float data[6] = {1, 2, 3, 4, 5, 6};
  Released r;
  const int64_t dims[] = {2, 3};
  TF_Tensor* t = TF_NewTensor(TF_FLOAT, dims, 2, data, sizeof data + 8, record_release, &r);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(r.calls, 0);
  EXPECT_EQ(TF_TensorType(t), TF_FLOAT);
  EXPECT_EQ(TF_NumDims(t), 2);
  EXPECT_EQ(TF_Dim(t, 0), 2);
  EXPECT_EQ(TF_Dim(t, 1), 3);
  EXPECT_EQ(TF_TensorByteSize(t), sizeof data + 8);  // the length given, not 6 * 4
  EXPECT_EQ(TF_TensorData(t), static_cast<void*>(data));
  TF_DeleteTensor(t);
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.data, static_cast<void*>(data));
  EXPECT_EQ(r.len, sizeof data + 8);
}

TEST(CapiTensor, TooShortBufferReturnsNullAndReleases) {
  float data[5] = {};
  Released r;
  const int64_t dims[] = {2, 3};
  EXPECT_EQ(TF_NewTensor(TF_FLOAT, dims, 2, data, sizeof data, record_release, &r), nullptr);
  EXPECT_EQ(r.calls, 1);
  const int64_t negative[] = {-1};
  EXPECT_EQ(TF_NewTensor(TF_FLOAT, negative, 1, data, sizeof data, record_release, &r), nullptr);
  EXPECT_EQ(r.calls, 2);
}

TEST(CapiTensor, AllocateGivesWritableAlignedStorage) {
  const int64_t dims[] = {4};
  TF_Tensor* t = TF_AllocateTensor(TF_INT32, dims, 1, 16);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(TF_TensorByteSize(t), 16u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(TF_TensorData(t)) % 64, 0u);
  std::memset(TF_TensorData(t), 0x7f, 16);
  TF_DeleteTensor(t);
  EXPECT_EQ(TF_DataTypeSize(TF_DOUBLE), 8u);
  EXPECT_EQ(TF_DataTypeSize(TF_STRING), 0u);
}

TEST(CapiOptions, ConfigProtoParsedOrRejected) {
  TF_Status* s = TF_NewStatus();
  TF_SessionOptions* o = TF_NewSessionOptions();
  const unsigned char allow_growth[] = {0x32, 0x02, 0x20, 0x01};
  TF_SetConfig(o, allow_growth, sizeof allow_growth, s);
  EXPECT_EQ(TF_GetCode(s), TF_OK) << TF_Message(s);
  const unsigned char garbage[] = {0x32, 0x09, 0x20};
  TF_SetConfig(o, garbage, sizeof garbage, s);
  EXPECT_EQ(TF_GetCode(s), TF_INVALID_ARGUMENT);
  EXPECT_STREQ(TF_Message(s), "Unparseable ConfigProto");
  TF_DeleteSessionOptions(o);
  TF_DeleteStatus(s);
  EXPECT_NE(std::string(TF_Version()), "");
}

class CapiSession : public ::testing::Test {
 protected:
  void SetUp() override {
    qtf::testing::make_test_model({2.0f, 0.5f}).write(dir_.file("m"));
    const char* tags[] = {"serve"};
    session_ = TF_LoadSessionFromSavedModel(options_, nullptr, dir_.file("m").c_str(), tags, 1,
                                            graph_, nullptr, status_);
    ASSERT_EQ(TF_GetCode(status_), TF_OK) << TF_Message(status_);
    in_ = {TF_GraphOperationByName(graph_, "serving_default_x"), 0};
    out_ = {TF_GraphOperationByName(graph_, "StatefulPartitionedCall"), 0};
  }
  void TearDown() override {
    if (session_ != nullptr) TF_DeleteSession(session_, status_);
    if (graph_ != nullptr) TF_DeleteGraph(graph_);
    TF_DeleteSessionOptions(options_);
    TF_DeleteStatus(status_);
  }

  qtf::testing::TempDir dir_;
  TF_Status* status_ = TF_NewStatus();
  TF_SessionOptions* options_ = TF_NewSessionOptions();
  TF_Graph* graph_ = TF_NewGraph();
  TF_Session* session_ = nullptr;
  TF_Output in_{}, out_{};
};

TEST_F(CapiSession, OperationLookupAndNames) {
  ASSERT_NE(in_.oper, nullptr);
  EXPECT_STREQ(TF_OperationName(in_.oper), "serving_default_x");
  EXPECT_EQ(TF_GraphOperationByName(graph_, "no_such_op"), nullptr);
  TF_Graph* empty = TF_NewGraph();
  EXPECT_EQ(TF_GraphOperationByName(empty, "serving_default_x"), nullptr);
  TF_DeleteGraph(empty);
}

TEST_F(CapiSession, OutputsAreNewCallerOwnedTensorsAndFeedsStayTheCallers) {
  float x[2] = {1.0f, 4.0f};
  Released r;
  const int64_t dims[] = {1, 2};
  TF_Tensor* feed = TF_NewTensor(TF_FLOAT, dims, 2, x, sizeof x, record_release, &r);
  TF_Tensor* outputs[2] = {nullptr, nullptr};
  TF_Output fetches[2] = {out_, out_};
  TF_SessionRun(session_, nullptr, &in_, &feed, 1, fetches, outputs, 2, nullptr, 0, nullptr, status_);
  ASSERT_EQ(TF_GetCode(status_), TF_OK) << TF_Message(status_);
  ASSERT_NE(outputs[0], nullptr);
  ASSERT_NE(outputs[1], nullptr);
  EXPECT_NE(TF_TensorData(outputs[0]), TF_TensorData(outputs[1]));
  EXPECT_EQ(r.calls, 0);  // the caller still owns the feed
  const auto* y = static_cast<const float*>(TF_TensorData(outputs[0]));
  EXPECT_EQ(y[0], 3.0f);
  EXPECT_EQ(y[1], 3.0f);
  EXPECT_EQ(TF_NumDims(outputs[0]), 2);
  // Writing one result must not change the other or later runs.
  static_cast<float*>(TF_TensorData(outputs[1]))[0] = 99.0f;
  EXPECT_EQ(y[0], 3.0f);
  TF_DeleteTensor(outputs[0]);
  TF_DeleteTensor(outputs[1]);
  TF_DeleteTensor(feed);
  EXPECT_EQ(r.calls, 1);
}

TEST_F(CapiSession, FailedRunSetsEveryOutputToNull) {
  int32_t wrong[2] = {1, 2};
  const int64_t dims[] = {1, 2};
  TF_Tensor* feed = TF_NewTensor(TF_INT32, dims, 2, wrong, sizeof wrong, [](void*, size_t, void*) {}, nullptr);
  TF_Tensor* stale = reinterpret_cast<TF_Tensor*>(0x1);
  TF_Tensor* outputs[1] = {stale};
  TF_SessionRun(session_, nullptr, &in_, &feed, 1, &out_, outputs, 1, nullptr, 0, nullptr, status_);
  EXPECT_EQ(TF_GetCode(status_), TF_INVALID_ARGUMENT);
  EXPECT_NE(std::string(TF_Message(status_)).find("serving_default_x"), std::string::npos)
      << TF_Message(status_);
  EXPECT_EQ(outputs[0], nullptr);

  // Fetching an output index the op does not have.
  TF_Output bad{out_.oper, 5};
  outputs[0] = stale;
  TF_SessionRun(session_, nullptr, nullptr, nullptr, 0, &bad, outputs, 1, nullptr, 0, nullptr, status_);
  EXPECT_EQ(TF_GetCode(status_), TF_INVALID_ARGUMENT);
  EXPECT_EQ(outputs[0], nullptr);
  TF_DeleteTensor(feed);
}

TEST_F(CapiSession, GraphDeletedBeforeSessionStaysUsable) {
  TF_DeleteGraph(graph_);
  graph_ = nullptr;
  float x[2] = {2.0f, 2.0f};
  const int64_t dims[] = {1, 2};
  TF_Tensor* feed = TF_NewTensor(TF_FLOAT, dims, 2, x, sizeof x, [](void*, size_t, void*) {}, nullptr);
  TF_Tensor* result = nullptr;
  TF_SessionRun(session_, nullptr, &in_, &feed, 1, &out_, &result, 1, nullptr, 0, nullptr, status_);
  ASSERT_EQ(TF_GetCode(status_), TF_OK) << TF_Message(status_);
  EXPECT_EQ(static_cast<const float*>(TF_TensorData(result))[0], 5.0f);
  TF_DeleteTensor(result);
  TF_DeleteTensor(feed);
}

TEST_F(CapiSession, ClosedSessionRefusesRuns) {
  TF_CloseSession(session_, status_);
  EXPECT_EQ(TF_GetCode(status_), TF_OK);
  TF_Tensor* result = nullptr;
  TF_SessionRun(session_, nullptr, nullptr, nullptr, 0, &out_, &result, 1, nullptr, 0, nullptr, status_);
  EXPECT_NE(TF_GetCode(status_), TF_OK);
  EXPECT_EQ(result, nullptr);
}

TEST_F(CapiSession, StringFeedsAreRefusedClearly) {
  char bytes[24] = {};
  TF_Tensor* feed = TF_NewTensor(TF_STRING, nullptr, 0, bytes, sizeof bytes, [](void*, size_t, void*) {}, nullptr);
  TF_Output filename{TF_GraphOperationByName(graph_, "saver_filename"), 0};
  TF_Tensor* result = nullptr;
  TF_SessionRun(session_, nullptr, &filename, &feed, 1, &out_, &result, 1, nullptr, 0, nullptr, status_);
  EXPECT_EQ(TF_GetCode(status_), TF_UNIMPLEMENTED);
  EXPECT_EQ(result, nullptr);
  TF_DeleteTensor(feed);
}

}  // namespace
