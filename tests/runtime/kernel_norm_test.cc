// Normalisation kernels: LRN and the three FusedBatchNorm versions in
// inference form, against data/kernels/make_references_norm.py (PyTorch)
// and hand-worked cases.
#include <gtest/gtest.h>

#include <cmath>

#include "kernel_reference.h"

namespace qtf {
namespace {

using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

QTF_REFERENCE_SUITE(NormReferenceTest, MatchesPyTorch, "cases_norm.txt", 1e-5f);

TEST(LrnTest, HandWorkedWindowAtTheEdges) {
  Node node("LRN");
  node.attr("depth_radius", 1).attr("bias", 1.f).attr("alpha", 1.f).attr("beta", 1.f);
  // Channels 1, 2, 3: windows {1,2}, {1,2,3}, {2,3} -> sums of squares 5, 14, 13.
  Tensor y = node.run1({make<float>({1, 1, 1, 3}, {1, 2, 3})});
  const std::vector<float> got = values<float>(y);
  const std::vector<float> want{1.f / 6, 2.f / 15, 3.f / 14};
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_FLOAT_EQ(got[i], want[i]) << i;
}

TEST(LrnTest, Errors) {
  Node node("LRN");
  EXPECT_EQ(testing::run_error(node, {make<float>({2, 2}, {1, 2, 3, 4})}).code(),
            TF_INVALID_ARGUMENT);
  Node half("LRN");
  half.attr("T", TF_HALF);
  EXPECT_EQ(half.prepare().code(), TF_UNIMPLEMENTED);
  Node negative("LRN");
  negative.attr("depth_radius", -1);
  EXPECT_EQ(negative.prepare().code(), TF_INVALID_ARGUMENT);
}

Tensor channel(std::vector<float> v) { return make<float>({static_cast<int64_t>(v.size())}, v); }

TEST(FusedBatchNormTest, AllVersionsNormaliseAndPassTheMomentsThrough) {
  // Two channels; variance + epsilon = 4 and 1.
  const Tensor scale = channel({2, 1}), offset = channel({1, -1}), mean = channel({1, 2});
  const Tensor variance = channel({3.5f, 0.5f});
  for (const char* op : {"FusedBatchNorm", "FusedBatchNormV2", "FusedBatchNormV3"}) {
    Node node(op);
    node.attr("T", TF_FLOAT).attr("epsilon", 0.5f).attr("is_training", false);
    if (std::string(op) != "FusedBatchNorm") node.attr("U", TF_FLOAT);
    std::vector<Tensor> out;
    Tensor x = make<float>({1, 1, 2, 2}, {3, 2, 5, 4});
    ASSERT_TRUE(node.run({x, scale, offset, mean, variance}, &out).is_ok()) << op;
    // (3-1)*2/2+1 = 3, (2-2)*1/1-1 = -1, (5-1)*2/2+1 = 5, (4-2)-1 = 1
    EXPECT_EQ(values<float>(out[0]), (std::vector<float>{3, -1, 5, 1})) << op;
    EXPECT_EQ(out.size(), std::string(op) == "FusedBatchNormV3" ? 6u : 5u);
    EXPECT_EQ(values<float>(out[1]), values<float>(mean)) << op;
    EXPECT_EQ(values<float>(out[2]), values<float>(variance)) << op;
  }
}

TEST(FusedBatchNormTest, ChannelsFirstUsesTheSecondAxis) {
  Node node("FusedBatchNormV3");
  node.attr("T", TF_FLOAT).attr("U", TF_FLOAT).attr("epsilon", 0.f).attr("is_training", false);
  node.attr("data_format", "NCHW");
  // [1, 2, 1, 2]: channel 0 holds {1, 2}, channel 1 holds {3, 4}.
  Tensor y = node.run1({make<float>({1, 2, 1, 2}, {1, 2, 3, 4}), channel({1, 10}),
                        channel({0, 0}), channel({0, 1}), channel({1, 1})});
  EXPECT_EQ(values<float>(y), (std::vector<float>{1, 2, 20, 30}));
}

TEST(FusedBatchNormTest, TrainingAndWrongParametersAreRefused) {
  Node training("FusedBatchNorm");
  training.attr("T", TF_FLOAT);  // is_training defaults to true
  EXPECT_EQ(training.prepare().code(), TF_UNIMPLEMENTED);
  Node node("FusedBatchNormV2");
  node.attr("T", TF_FLOAT).attr("U", TF_FLOAT).attr("is_training", false);
  Tensor x = make<float>({1, 1, 1, 2}, {1, 2});
  EXPECT_EQ(testing::run_error(node, {x, channel({1}), channel({1, 2}), channel({1, 2}),
                                      channel({1, 2})})
                .code(),
            TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
