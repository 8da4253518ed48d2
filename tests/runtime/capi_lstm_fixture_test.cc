// The C API against a Keras LSTM exported by TensorFlow 2.6: the recurrence is
// a StatelessWhile over TensorLists inside the serving function.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "loaded_model.h"
#include "tensorflow/c/c_api.h"
#include "util/file.h"

namespace {

const std::string kFixture = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/keras_lstm_tf26";

struct Loaded : quarrow::LoadedModel {
  Loaded() : quarrow::LoadedModel(kFixture) {}

  // Feeds a [batch, 5, 1] sequence batch and returns the [batch, 1] output.
  std::vector<float> run(std::vector<float> input) {
    TF_Output in{TF_GraphOperationByName(graph(), "serving_default_input_6"), 0};
    TF_Output out{TF_GraphOperationByName(graph(), "StatefulPartitionedCall"), 0};
    EXPECT_NE(in.oper, nullptr);
    EXPECT_NE(out.oper, nullptr);
    const int64_t dims[] = {static_cast<int64_t>(input.size() / 5), 5, 1};
    TF_Tensor* t = TF_NewTensor(TF_FLOAT, dims, 3, input.data(), input.size() * sizeof(float),
                                [](void*, size_t, void*) {}, nullptr);
    TF_Tensor* result = nullptr;
    TF_SessionRun(session(), nullptr, &in, &t, 1, &out, &result, 1, nullptr, 0, nullptr, status());
    std::vector<float> values;
    if (result != nullptr) {
      EXPECT_EQ(TF_NumDims(result), 2);
      const auto* p = static_cast<const float*>(TF_TensorData(result));
      values.assign(p, p + TF_TensorByteSize(result) / sizeof(float));
      TF_DeleteTensor(result);
    }
    TF_DeleteTensor(t);
    return values;
  }
};

bool fixture_present() { return qtf::path_exists(kFixture + "/saved_model.pb"); }

void expect_close(float got, double want) {
  EXPECT_LE(std::fabs(got - want), 1e-5 * std::fabs(want)) << "got " << got << ", want " << want;
}

// Expected values were computed independently in float64 from the checkpoint.
const struct {
  std::vector<float> sequence;
  double output;
} kCases[] = {
    {{0, 0, 0, 0, 0}, 7.471307},
    {{0.1f, 0.2f, 0.3f, 0.4f, 0.5f}, 12.765326},
    {{1, -1, 2, -2, 0.5f}, 7.421100},
};

TEST(CapiLstmFixture, ServingDefaultMatchesTheReferenceOnEachSequence) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  Loaded m;
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  for (const auto& c : kCases) {
    const std::vector<float> out = m.run(c.sequence);
    ASSERT_EQ(out.size(), 1u) << TF_Message(m.status());
    expect_close(out[0], c.output);
  }
  // Runs reuse the plan and the loop's frames; a second pass gives the same.
  for (const auto& c : kCases) {
    const std::vector<float> out = m.run(c.sequence);
    ASSERT_EQ(out.size(), 1u) << TF_Message(m.status());
    expect_close(out[0], c.output);
  }
}

TEST(CapiLstmFixture, ABatchOfSequencesGivesEachSequencesOutput) {
  if (!fixture_present()) GTEST_SKIP() << "fixture absent";
  Loaded m;
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  std::vector<float> batch;
  for (const auto& c : kCases) batch.insert(batch.end(), c.sequence.begin(), c.sequence.end());
  const std::vector<float> out = m.run(batch);
  ASSERT_EQ(out.size(), 3u) << TF_Message(m.status());
  for (size_t i = 0; i < 3; ++i) expect_close(out[i], kCases[i].output);
}

}  // namespace
