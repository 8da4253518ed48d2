// Conv3D against hand-worked cases and the references of
// data/kernels/make_references_conv3d.py (PyTorch's conv3d with
// TensorFlow's SAME padding), under every convolution method, and its
// refusals.
#include <gtest/gtest.h>

#include <optional>

#include "kernel_reference.h"
#include "kernels/dnnl/conv_method.h"

namespace qtf {
namespace {

using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

QTF_REFERENCE_SUITE(Conv3DReferenceTest, MatchesReference, "cases_conv3d.txt", 3e-5f);

// Forces one convolution method for the test's lifetime.
struct ForcedMethod {
  explicit ForcedMethod(ConvMethod m) { set_conv_method_override(m); }
  ~ForcedMethod() { set_conv_method_override(std::nullopt); }
};

TEST(Conv3DTest, EveryMethodMatchesTheReferences) {
  // The blocked layouts reorder from and to NDHWC; Winograd falls back to
  // the direct kernel, which oneDNN has for 3-D.
  for (ConvMethod m : {ConvMethod::kDirectPreferred, ConvMethod::kWinograd}) {
    SCOPED_TRACE(conv_method_name(m));
    ForcedMethod forced(m);
    for (const ReferenceCase& c : load_cases("cases_conv3d.txt")) {
      SCOPED_TRACE(c.name);
      testing::check_reference(c, 3e-5f, 1);
    }
  }
}

Node conv3d(const char* padding, std::initializer_list<int64_t> strides = {1, 1, 1, 1, 1}) {
  Node node("Conv3D");
  node.attr("T", TF_FLOAT).attr("padding", padding).attr("strides", strides);
  return node;
}

// 2x2x2 volume with x[d, h, w] = 1 + 4d + 2h + w.
Tensor cube() { return make<float>({1, 2, 2, 2, 1}, {1, 2, 3, 4, 5, 6, 7, 8}); }

TEST(Conv3DTest, HandWorkedLayoutAndSamePaddingAtTheEnd) {
  // A filter whose only tap is at (d=1, h=0, w=1) picks x[1, 0, 1] = 6 under
  // VALID: DHWIO order of the filter and NDHWC order of the data.
  std::vector<float> one_tap(8, 0.f);
  one_tap[4 + 1] = 1.f;
  Node valid = conv3d("VALID");
  Tensor v = valid.run1({cube(), make<float>({2, 2, 2, 1, 1}, one_tap)});
  EXPECT_EQ(v.shape(), (Shape{1, 1, 1, 1, 1}));
  EXPECT_EQ(values<float>(v), (std::vector<float>{6}));
  // All-ones 2x2x2 under SAME pads one plane after the data on each axis,
  // so output (d, h, w) sums the pixels at and after it.
  Node same = conv3d("SAME");
  Tensor s = same.run1({cube(), make<float>({2, 2, 2, 1, 1}, std::vector<float>(8, 1.f))});
  EXPECT_EQ(s.shape(), (Shape{1, 2, 2, 2, 1}));
  EXPECT_EQ(values<float>(s), (std::vector<float>{36, 20, 22, 12, 26, 14, 15, 8}));
  // Stride 2 keeps output (0, 0, 0) only.
  Node strided = conv3d("SAME", {1, 2, 2, 2, 1});
  EXPECT_EQ(values<float>(strided.run1({cube(), make<float>({2, 2, 2, 1, 1},
                                                            std::vector<float>(8, 1.f))})),
            (std::vector<float>{36}));
}

TEST(Conv3DTest, TwoChannelsInAndOut) {
  // 1x1x1 filter [I=2, O=2] = [[1, 10], [100, 1000]]: output o sums input
  // channel i times f[i, o].
  Node node = conv3d("VALID");
  Tensor y = node.run1({make<float>({1, 1, 1, 2, 2}, {1, 2, 3, 4}),
                        make<float>({1, 1, 1, 2, 2}, {1, 10, 100, 1000})});
  EXPECT_EQ(y.shape(), (Shape{1, 1, 1, 2, 2}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{201, 2010, 403, 4030}));
}

TEST(Conv3DTest, GeometryCountsEveryInputChannel) {
  // 5-D weights that are not grouped: each of the 3 outputs per position
  // sums 2 channels x 2x2x2 taps.
  Node node = conv3d("VALID");
  Tensor y = node.run1({Tensor::allocate(TF_FLOAT, {1, 3, 3, 3, 2}),
                        Tensor::allocate(TF_FLOAT, {2, 2, 2, 2, 3})});
  EXPECT_EQ(y.shape(), (Shape{1, 2, 2, 2, 3}));
  const std::vector<ConvMethodChoice> choices = conv_method_choices();
  ASSERT_FALSE(choices.empty());
  EXPECT_NE(choices.back().where.find("test/Conv3D"), std::string::npos);
  EXPECT_DOUBLE_EQ(choices.back().geometry.flop(), 2.0 * 2 * 8 * 8 * 3);
}

TEST(Conv3DTest, BadInputsAreInvalidArgument) {
  Node node = conv3d("SAME");
  const Tensor f = make<float>({1, 1, 1, 1, 1}, {1});
  const Status rank = testing::run_error(node, {make<float>({1, 2, 2, 1}, {1, 2, 3, 4}), f});
  EXPECT_EQ(rank.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(rank.message().find("rank 5"), std::string::npos) << rank.message();
  EXPECT_EQ(testing::run_error(node, {cube(), make<float>({1, 1, 1, 1}, {1})}).code(),
            TF_INVALID_ARGUMENT);
  const Status channels =
      testing::run_error(node, {cube(), make<float>({1, 1, 1, 2, 1}, {1, 1})});
  EXPECT_EQ(channels.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(channels.message().find("depth"), std::string::npos) << channels.message();
  Node valid = conv3d("VALID");
  EXPECT_EQ(testing::run_error(valid, {cube(), make<float>({3, 1, 1, 1, 1}, {1, 1, 1})}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(Conv3DTest, UnsupportedAttrsAreRefusedAtPrepare) {
  EXPECT_EQ(conv3d("SAME", {2, 1, 1, 1, 1}).prepare().code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(conv3d("SAME", {1, 1, 1, 1, 2}).prepare().code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(conv3d("SAME", {1, 1, 1, 1}).prepare().code(), TF_INVALID_ARGUMENT);
  Node dilated_batch = conv3d("SAME");
  dilated_batch.attr("dilations", {2, 1, 1, 1, 1});
  EXPECT_EQ(dilated_batch.prepare().code(), TF_INVALID_ARGUMENT);
  Node explicit_pads = conv3d("EXPLICIT");
  explicit_pads.attr("explicit_paddings", {0, 0, 1, 1, 1, 1, 1, 1, 0, 0});
  EXPECT_EQ(explicit_pads.prepare().code(), TF_INVALID_ARGUMENT);
  Node channels_first = conv3d("SAME");
  channels_first.attr("data_format", "NCDHW");
  const Status ncdhw = channels_first.prepare();
  EXPECT_EQ(ncdhw.code(), TF_UNIMPLEMENTED);
  EXPECT_NE(ncdhw.message().find("NCDHW"), std::string::npos) << ncdhw.message();
  Node doubles = conv3d("SAME");
  doubles.attr("T", TF_DOUBLE);
  EXPECT_EQ(doubles.prepare().code(), TF_UNIMPLEMENTED);
}

}  // namespace
}  // namespace qtf
