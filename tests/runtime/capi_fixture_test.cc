// The C API against a SavedModel written by TensorFlow 2.14 itself.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "loaded_model.h"
#include "tensorflow/c/c_api.h"
#include "util/file.h"

namespace {

const std::string kFixture =
    std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/half_plus_two_tf2";

// The fixture loaded with `tags`, filling `meta` when given.
quarrow::LoadedModel load_fixture(std::vector<const char*> tags, TF_Buffer* meta = nullptr) {
  quarrow::LoadOptions options;
  options.tags = std::move(tags);
  options.meta_graph_def = meta;
  return quarrow::LoadedModel(kFixture, options);
}

// Runs `input` (fed at `feed`, or nothing when empty) and fetches `fetch`;
// the outcome is left in m.status().
std::vector<float> run(quarrow::LoadedModel& m, const char* feed, std::vector<float> input,
                       const char* fetch) {
  TF_Output in{TF_GraphOperationByName(m.graph(), feed), 0};
  TF_Output out{TF_GraphOperationByName(m.graph(), fetch), 0};
  EXPECT_NE(out.oper, nullptr) << fetch;
  TF_Tensor* t = nullptr;
  if (!input.empty()) {
    EXPECT_NE(in.oper, nullptr) << feed;
    const int64_t dims[] = {static_cast<int64_t>(input.size())};
    t = TF_NewTensor(TF_FLOAT, dims, 1, input.data(), input.size() * sizeof(float),
                     [](void*, size_t, void*) {}, nullptr);
  }
  TF_Tensor* result = nullptr;
  TF_SessionRun(m.session(), nullptr, &in, &t, t == nullptr ? 0 : 1, &out, &result, 1, nullptr, 0,
                nullptr, m.status());
  std::vector<float> values;
  if (result != nullptr) {
    const auto* p = static_cast<const float*>(TF_TensorData(result));
    values.assign(p, p + TF_TensorByteSize(result) / sizeof(float));
    TF_DeleteTensor(result);
  }
  if (t != nullptr) TF_DeleteTensor(t);
  return values;
}

bool fixture_present() { return qtf::path_exists(kFixture + "/saved_model.pb"); }

TEST(CapiFixture, ServingDefaultComputesHalfPlusTwo) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  quarrow::LoadedModel m = load_fixture({"serve"});
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  ASSERT_NE(m.session(), nullptr);
  const struct {
    float x, y;
  } cases[] = {{1.0f, 2.5f}, {-4.0f, 0.0f}, {3.0f, 3.5f}};
  for (const auto& c : cases) {
    EXPECT_EQ(run(m, "serving_default_x", {c.x}, "StatefulPartitionedCall_5"), std::vector<float>{c.y})
        << "x = " << c.x << ": " << TF_Message(m.status());
  }
  // Not fed: PlaceholderWithDefault gives [0.0].
  EXPECT_EQ(run(m, "serving_default_x", {}, "StatefulPartitionedCall_5"), std::vector<float>{2.0f})
      << TF_Message(m.status());
  // Other signature of the same model: y = a * x + c.
  EXPECT_EQ(run(m, "regress_x2_to_y3_inputs", {2.0f}, "StatefulPartitionedCall_2"),
            std::vector<float>{4.0f})
      << TF_Message(m.status());
}

TEST(CapiFixture, AssetVariableIsInitialisedWithItsPath) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  quarrow::LoadedModel m = load_fixture({"serve"});
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  // The init op assigned the asset path to "Variable"; its read is a string,
  // which the C API refuses to hand out, so check it through VarIsInitializedOp.
  TF_Output out{TF_GraphOperationByName(m.graph(), "Variable/IsInitialized/VarIsInitializedOp"), 0};
  ASSERT_NE(out.oper, nullptr);
  TF_Tensor* result = nullptr;
  TF_SessionRun(m.session(), nullptr, nullptr, nullptr, 0, &out, &result, 1, nullptr, 0, nullptr,
                m.status());
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  ASSERT_EQ(TF_TensorType(result), TF_BOOL);
  EXPECT_TRUE(*static_cast<const bool*>(TF_TensorData(result)));
  TF_DeleteTensor(result);
}

TEST(CapiFixture, TagsMustMatchExactly) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  for (const std::vector<const char*>& tags :
       {std::vector<const char*>{"serve", "gpu"}, std::vector<const char*>{}, std::vector<const char*>{"train"}}) {
    quarrow::LoadedModel m = load_fixture(tags);
    EXPECT_EQ(m.session(), nullptr);
    EXPECT_EQ(TF_GetCode(m.status()), TF_NOT_FOUND) << TF_Message(m.status());
    EXPECT_EQ(TF_GraphOperationByName(m.graph(), "serving_default_x"), nullptr);
  }
}

TEST(CapiFixture, FillsMetaGraphDefBuffer) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  TF_Buffer* meta = TF_NewBuffer();
  {
    quarrow::LoadedModel m = load_fixture({"serve"}, meta);
    ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  }
  ASSERT_NE(meta->data, nullptr);
  // The serialized MetaGraphDef carries the signature key and its tag.
  const std::string bytes(static_cast<const char*>(meta->data), meta->length);
  EXPECT_NE(bytes.find("serving_default"), std::string::npos);
  EXPECT_NE(bytes.find("StatefulPartitionedCall_5:0"), std::string::npos);
  TF_DeleteBuffer(meta);
}

}  // namespace
