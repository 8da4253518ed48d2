// Input-gradient (transposed) convolutions: DepthwiseConv2dNativeBackpropInput
// hand-worked, its refusals, and the attrs the shared backprop kernel reads.
// Reference values over strides, dilations, paddings, channel multipliers
// and both layouts are the cases of data/kernels/make_references.py, run by
// kernel_nn_test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel_testing.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using testing::ints;
using testing::make;
using testing::Node;
using testing::run_error;
using testing::values;

Node depthwise_backprop(const char* padding, std::initializer_list<int64_t> strides = {1, 1, 1, 1}) {
  Node node("DepthwiseConv2dNativeBackpropInput");
  node.attr("T", TF_FLOAT).attr("padding", padding).attr("strides", strides);
  return node;
}

// [2, 2, 1, 2]: multiplier 0 all ones, multiplier 1 all twos.
Tensor ones_and_twos() { return make<float>({2, 2, 1, 2}, {1, 2, 1, 2, 1, 2, 1, 2}); }

TEST(DepthwiseBackpropInputTest, HandWorkedEveryMultiplierSumsIntoItsChannel) {
  Node node = depthwise_backprop("VALID");
  // out_backprop [1, 2, 2, 2]: channel 0 = 1 2 / 3 4, channel 1 = all ones.
  Tensor grad = make<float>({1, 2, 2, 2}, {1, 1, 2, 1, 3, 1, 4, 1});
  Tensor x = node.run1({ints({1, 3, 3, 1}), ones_and_twos(), grad});
  ASSERT_EQ(x.shape(), (Shape{1, 3, 3, 1}));
  // Channel 0 scatters 1 2 / 3 4 over each 2x2 window: 1 3 2 / 4 10 6 / 3 7 4;
  // channel 1 adds twice the window count: 2 4 2 / 4 8 4 / 2 4 2.
  EXPECT_EQ(values<float>(x), (std::vector<float>{3, 7, 4, 8, 18, 10, 5, 11, 6}));
}

TEST(DepthwiseBackpropInputTest, StrideLeavesUnreachedRowsZero) {
  // VALID, 2x2 window, stride 2 over 5x5: row and column 4 no window reads.
  Node node = depthwise_backprop("VALID", {1, 2, 2, 1});
  Tensor f = make<float>({2, 2, 1, 1}, {1, 2, 3, 4});
  Tensor x = node.run1({ints({1, 5, 5, 1}), f, make<float>({1, 2, 2, 1}, {1, 10, 100, 1000})});
  EXPECT_EQ(values<float>(x), (std::vector<float>{1, 2, 10, 20, 0,          //
                                                  3, 4, 30, 40, 0,          //
                                                  100, 200, 1000, 2000, 0,  //
                                                  300, 400, 3000, 4000, 0,  //
                                                  0, 0, 0, 0, 0}));
}

TEST(DepthwiseBackpropInputTest, SecondRunCreatesNoPrimitiveAndEmptyBatchGivesEmptyOutput) {
  Node node = depthwise_backprop("SAME");
  const Tensor f = ones_and_twos();
  Tensor grad = make<float>({1, 3, 3, 2}, std::vector<float>(18, 1.f));
  node.run1({ints({1, 3, 3, 1}), f, grad});
  const int64_t after_first = dnnl_primitives_created();
  Tensor again = node.run1({ints({1, 3, 3, 1}), f, grad});
  EXPECT_EQ(dnnl_primitives_created(), after_first);
  // SAME 2x2 pads after the data: the first pixel is read by one window.
  EXPECT_EQ(values<float>(again)[0], 3);
  Tensor empty = node.run1({ints({0, 3, 3, 1}), f, make<float>({0, 3, 3, 2}, {})});
  EXPECT_EQ(empty.shape(), (Shape{0, 3, 3, 1}));
}

TEST(DepthwiseBackpropInputTest, InconsistentInputsAreInvalidArgument) {
  const Tensor f = ones_and_twos();
  const Tensor grad = make<float>({1, 2, 2, 2}, std::vector<float>(8, 1.f));
  struct Case {
    const char* what;
    std::vector<Tensor> inputs;
  };
  const Case cases[] = {
      {"three input sizes", {ints({1, 3, 3}), f, grad}},
      {"five input sizes", {ints({1, 3, 3, 1, 1}), f, grad}},
      {"input sizes as a matrix", {make<int32_t>({2, 2}, {1, 3, 3, 1}), f, grad}},
      {"negative input size", {ints({1, -3, 3, 1}), f, grad}},
      {"float input sizes", {make<float>({4}, {1, 3, 3, 1}), f, grad}},
      {"rank-3 filter", {ints({1, 3, 3, 1}), make<float>({2, 2, 2}, std::vector<float>(8, 1.f)), grad}},
      {"rank-3 out_backprop", {ints({1, 3, 3, 1}), f, make<float>({2, 2, 2}, std::vector<float>(8, 1.f))}},
      {"rank-5 out_backprop", {ints({1, 3, 3, 1}), f, make<float>({1, 1, 2, 2, 2}, std::vector<float>(8, 1.f))}},
      {"input channels not the filter's", {ints({1, 3, 3, 2}), f, grad}},
      {"out_backprop channels C, not C*M", {ints({1, 3, 3, 1}), f, make<float>({1, 2, 2, 1}, {1, 1, 1, 1})}},
      {"batch mismatch", {ints({2, 3, 3, 1}), f, grad}},
      {"out_backprop not the forward output size", {ints({1, 4, 3, 1}), f, grad}},
      {"window larger than the input", {ints({1, 1, 3, 1}), f, grad}},
      {"double filter", {ints({1, 3, 3, 1}), make<double>({2, 2, 1, 2}, std::vector<double>(8, 1.0)), grad}},
  };
  for (const Case& c : cases) {
    Node node = depthwise_backprop("VALID");
    const Status s = run_error(node, c.inputs);
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << c.what << ": " << s.message();
    EXPECT_NE(s.message().find("node 'test/DepthwiseConv2dNativeBackpropInput'"), std::string::npos)
        << c.what << ": " << s.message();
  }
}

TEST(DepthwiseBackpropInputTest, AttrsAreCheckedAtPrepare) {
  struct Case {
    const char* what;
    const char* format;
    std::initializer_list<int64_t> strides;
    TF_Code code;
  };
  const Case cases[] = {
      {"NCHW with spatial strides", "NCHW", {1, 1, 2, 2}, TF_OK},
      {"NCHW reads the channel stride at index 1", "NCHW", {1, 2, 2, 1}, TF_INVALID_ARGUMENT},
      {"NHWC channel stride", "NHWC", {1, 2, 2, 2}, TF_INVALID_ARGUMENT},
      {"batch stride", "NHWC", {2, 1, 1, 1}, TF_INVALID_ARGUMENT},
      {"zero stride", "NHWC", {1, 0, 1, 1}, TF_INVALID_ARGUMENT},
      {"three strides", "NHWC", {1, 1, 1}, TF_INVALID_ARGUMENT},
      {"a 3-D layout", "NDHWC", {1, 1, 1, 1}, TF_UNIMPLEMENTED},
  };
  for (const Case& c : cases) {
    Node node = depthwise_backprop("SAME", c.strides);
    node.attr("data_format", c.format);
    EXPECT_EQ(node.prepare().code(), c.code) << c.what;
  }
  Node doubles = depthwise_backprop("SAME");
  doubles.attr("T", TF_DOUBLE);
  EXPECT_EQ(doubles.prepare().code(), TF_UNIMPLEMENTED);
  Node full = depthwise_backprop("FULL");
  EXPECT_EQ(full.prepare().code(), TF_INVALID_ARGUMENT);
  // NCHW explicit paddings: pairs in N, C, H, W order, the channel pair zero.
  Node channel_pad = depthwise_backprop("EXPLICIT");
  channel_pad.attr("data_format", "NCHW").attr("explicit_paddings", {0, 0, 1, 0, 0, 0, 0, 0});
  EXPECT_EQ(channel_pad.prepare().code(), TF_INVALID_ARGUMENT);
  Node short_pads = depthwise_backprop("EXPLICIT");
  short_pads.attr("explicit_paddings", {0, 0, 1, 1, 1, 1});
  EXPECT_EQ(short_pads.prepare().code(), TF_INVALID_ARGUMENT);
  Node dilated_channel = depthwise_backprop("SAME");
  dilated_channel.attr("dilations", {1, 1, 1, 2});
  EXPECT_EQ(dilated_channel.prepare().code(), TF_INVALID_ARGUMENT);
}

TEST(DepthwiseBackpropInputTest, NchwExplicitPaddingDropsThePaddedCells) {
  // 1x1 window, padding one row on top: out_backprop row 0 lies in the
  // padding and reaches no input cell.
  Node node = depthwise_backprop("EXPLICIT");
  node.attr("data_format", "NCHW").attr("explicit_paddings", {0, 0, 0, 0, 1, 0, 0, 0});
  Tensor f = make<float>({1, 1, 1, 1}, {2});
  Tensor x = node.run1({ints({1, 1, 2, 2}), f, make<float>({1, 1, 3, 2}, {7, 7, 1, 2, 3, 4})});
  EXPECT_EQ(values<float>(x), (std::vector<float>{2, 4, 6, 8}));
}

}  // namespace
}  // namespace qtf
