// Convolution methods (kernels/dnnl/conv_method.h): every method, forced,
// against a plain double-precision convolution on shapes that stress the
// blocked layouts (channel counts that are no multiple of 8 or 16, odd
// spatial sizes, strides, dilations, 1x1, fused bias and activation), the
// fallback to direct NHWC where oneDNN has no Winograd, the measured choice
// on a shape large enough to be timed, and the reproducible default (by
// shape, the same bytes whatever the thread count).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kernels/dnnl/conv_method.h"
#include "kernels/dnnl/dnnl_context.h"
#include "kernel_testing.h"
#include "probe_process.h"

namespace qtf {
namespace {

using testing::Node;

struct ConvCase {
  const char* name;
  int64_t h, w, in_c, out_c, k;
  int64_t stride, dilation;
  const char* padding;
  bool bias_relu;  // _FusedConv2D with BiasAdd + Relu
};

// Plain NHWC x HWIO convolution with TensorFlow's padding (SAME puts the
// odd pixel at the end), in double.
std::vector<float> reference(const ConvCase& c, const std::vector<float>& x, const std::vector<float>& f,
                             const std::vector<float>& b, int64_t* oh, int64_t* ow) {
  const int64_t span = (c.k - 1) * c.dilation + 1;
  const bool same = std::string(c.padding) == "SAME";
  *oh = same ? (c.h + c.stride - 1) / c.stride : (c.h - span) / c.stride + 1;
  *ow = same ? (c.w + c.stride - 1) / c.stride : (c.w - span) / c.stride + 1;
  const int64_t pad_h = same ? std::max<int64_t>(0, (*oh - 1) * c.stride + span - c.h) / 2 : 0;
  const int64_t pad_w = same ? std::max<int64_t>(0, (*ow - 1) * c.stride + span - c.w) / 2 : 0;
  std::vector<float> y(static_cast<size_t>(*oh * *ow * c.out_c));
  for (int64_t oy = 0; oy < *oh; ++oy) {
    for (int64_t ox = 0; ox < *ow; ++ox) {
      for (int64_t o = 0; o < c.out_c; ++o) {
        double sum = c.bias_relu ? b[static_cast<size_t>(o)] : 0.0;
        for (int64_t ky = 0; ky < c.k; ++ky) {
          for (int64_t kx = 0; kx < c.k; ++kx) {
            const int64_t iy = oy * c.stride + ky * c.dilation - pad_h;
            const int64_t ix = ox * c.stride + kx * c.dilation - pad_w;
            if (iy < 0 || iy >= c.h || ix < 0 || ix >= c.w) continue;
            for (int64_t i = 0; i < c.in_c; ++i) {
              sum += static_cast<double>(x[static_cast<size_t>((iy * c.w + ix) * c.in_c + i)]) *
                     f[static_cast<size_t>(((ky * c.k + kx) * c.in_c + i) * c.out_c + o)];
            }
          }
        }
        if (c.bias_relu) sum = std::max(sum, 0.0);
        y[static_cast<size_t>((oy * *ow + ox) * c.out_c + o)] = static_cast<float>(sum);
      }
    }
  }
  return y;
}

Node conv_node(const ConvCase& c) {
  Node node(c.bias_relu ? "_FusedConv2D" : "Conv2D");
  node.attr("T", TF_FLOAT)
      .attr("padding", c.padding)
      .attr("strides", {1, c.stride, c.stride, 1})
      .attr("dilations", {1, c.dilation, c.dilation, 1});
  if (c.bias_relu) {
    tensorflow::AttrValue ops;
    ops.mutable_list()->add_s("BiasAdd");
    ops.mutable_list()->add_s("Relu");
    node.attr("fused_ops", ops).attr("num_args", 1);
  }
  return node;
}

struct Data {
  std::vector<float> x, f, b;
};

Data data_for(const ConvCase& c) {
  return Data{testing::pattern(static_cast<size_t>(c.h * c.w * c.in_c), 29, 0.05f),
              testing::pattern(static_cast<size_t>(c.k * c.k * c.in_c * c.out_c), 17, 0.02f),
              testing::pattern(static_cast<size_t>(c.out_c), 7, 0.1f)};
}

std::vector<Tensor> inputs_for(const ConvCase& c, const Data& d) {
  std::vector<Tensor> in{testing::make<float>({1, c.h, c.w, c.in_c}, d.x),
                         testing::make<float>({c.k, c.k, c.in_c, c.out_c}, d.f)};
  if (c.bias_relu) in.push_back(testing::make<float>({c.out_c}, d.b));
  return in;
}

// Largest difference relative to the largest reference value (at least 1).
double relative_error(const std::vector<float>& got, const std::vector<float>& want) {
  EXPECT_EQ(got.size(), want.size());
  double diff = 0, scale = 1;
  for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
    diff = std::max(diff, static_cast<double>(std::fabs(got[i] - want[i])));
    scale = std::max(scale, static_cast<double>(std::fabs(want[i])));
  }
  return diff / scale;
}

// The latest recorded choice of the test node.
ConvMethodChoice last_choice() {
  const std::vector<ConvMethodChoice> all = conv_method_choices();
  EXPECT_FALSE(all.empty());
  return all.empty() ? ConvMethodChoice() : all.back();
}

class ForcedMethod {
 public:
  explicit ForcedMethod(std::optional<ConvMethod> m) { set_conv_method_override(m); }
  ~ForcedMethod() { set_conv_method_override(std::nullopt); }
};

class MeasuredPolicy {
 public:
  MeasuredPolicy() { set_conv_method_policy(ConvMethodPolicy::kFastestMeasured); }
  ~MeasuredPolicy() { set_conv_method_policy(ConvMethodPolicy::kReproducible); }
};

const ConvCase kCases[] = {
    {"odd_channels_3x3", 13, 11, 5, 7, 3, 1, 1, "SAME", false},
    {"odd_channels_fused", 9, 14, 19, 13, 3, 1, 1, "SAME", true},
    {"blocks_and_a_rest", 8, 8, 24, 40, 3, 1, 1, "VALID", true},
    {"strided", 15, 10, 6, 9, 3, 2, 1, "SAME", false},
    {"dilated", 12, 13, 10, 3, 3, 1, 2, "SAME", true},
    {"one_by_one", 7, 5, 33, 17, 1, 1, 1, "VALID", false},
    {"five_by_five_valid", 11, 9, 4, 12, 5, 1, 1, "VALID", true},
};

TEST(ConvMethodTest, EveryMethodMatchesThePlainConvolution) {
  for (ConvMethod m : {ConvMethod::kDirectNhwc, ConvMethod::kDirectPreferred, ConvMethod::kWinograd}) {
    for (const ConvCase& c : kCases) {
      SCOPED_TRACE(std::string(conv_method_name(m)) + " / " + c.name);
      ForcedMethod forced(m);
      const Data d = data_for(c);
      int64_t oh = 0, ow = 0;
      const std::vector<float> want = reference(c, d.x, d.f, d.b, &oh, &ow);
      Node node = conv_node(c);
      Tensor y = node.run1(inputs_for(c, d));
      EXPECT_EQ(y.shape(), (Shape{1, oh, ow, c.out_c}));
      EXPECT_LT(relative_error(testing::values<float>(y), want), 2e-5);
      const ConvMethodChoice choice = last_choice();
      EXPECT_TRUE(choice.candidate_ms.empty());
      // The forced method, or direct NHWC where oneDNN lacks it.
      EXPECT_TRUE(choice.method == m || choice.method == ConvMethod::kDirectNhwc) << conv_method_name(choice.method);
      if (m == ConvMethod::kWinograd && (c.stride != 1 || c.dilation != 1 || c.k != 3)) {
        EXPECT_EQ(choice.method, ConvMethod::kDirectNhwc);  // Winograd is 3x3, stride 1, undilated only
      }
      if (m == ConvMethod::kDirectNhwc) {
        EXPECT_EQ(choice.method, ConvMethod::kDirectNhwc);
      }
    }
  }
}

TEST(ConvMethodTest, SecondRunReusesTheChoiceAndANewFilterIsReordered) {
  const ConvCase c{"reuse", 10, 12, 18, 20, 3, 1, 1, "SAME", true};
  for (ConvMethod m : {ConvMethod::kDirectPreferred, ConvMethod::kWinograd}) {
    SCOPED_TRACE(conv_method_name(m));
    ForcedMethod forced(m);
    Data d = data_for(c);
    Node node = conv_node(c);
    const std::vector<Tensor> inputs = inputs_for(c, d);
    node.run1(inputs);
    const size_t choices = conv_method_choices().size();
    const int64_t primitives = dnnl_primitives_created();
    int64_t oh = 0, ow = 0;
    EXPECT_LT(relative_error(testing::values<float>(node.run1(inputs)), reference(c, d.x, d.f, d.b, &oh, &ow)), 2e-5);
    EXPECT_EQ(dnnl_primitives_created(), primitives);
    EXPECT_EQ(conv_method_choices().size(), choices);
    // Another filter buffer: reordered into the chosen method's layout.
    d.f = testing::pattern(d.f.size(), 13, -0.03f);
    EXPECT_LT(relative_error(testing::values<float>(node.run1(inputs_for(c, d))), reference(c, d.x, d.f, d.b, &oh, &ow)),
              2e-5);
    EXPECT_EQ(dnnl_primitives_created(), primitives + 1);
  }
}

// Timing-dependent choices would make the same image give other bytes from
// run to run: without the measuring policy a large convolution is not timed.
// A narrow one gives exactly the direct NHWC kernel's result; a wide 3x3
// gives Winograd's where oneDNN has it (AVX-512), else direct NHWC's, and
// agrees with the reference either way.
TEST(ConvMethodTest, DefaultFollowsTheShapeBitForBit) {
  ASSERT_EQ(conv_method_policy(), ConvMethodPolicy::kReproducible);
  const ConvCase narrow{"narrow", 40, 48, 64, 16, 3, 1, 1, "SAME", true};
  const ConvCase wide{"wide", 40, 48, 64, 32, 3, 1, 1, "SAME", true};
  for (const bool is_wide : {false, true}) {
    const ConvCase& c = is_wide ? wide : narrow;
    SCOPED_TRACE(c.name);
    ASSERT_GE(2.0 * 9 * c.in_c * c.out_c * c.h * c.w, kConvMethodTimingMinFlop);
    const Data d = data_for(c);
    Node node = conv_node(c);
    const std::vector<float> by_default = testing::values<float>(node.run1(inputs_for(c, d)));
    const ConvMethodChoice choice = last_choice();
    EXPECT_TRUE(choice.candidate_ms.empty());
    EXPECT_EQ(winograd_by_shape(choice.geometry), is_wide);
    ConvImpl winograd;
    const bool has_winograd =
        make_conv_impl(choice.geometry, dnnl::primitive_attr(), ConvMethod::kWinograd, &winograd);
    const ConvMethod expected = is_wide && has_winograd ? ConvMethod::kWinograd : ConvMethod::kDirectNhwc;
    EXPECT_EQ(choice.method, expected);
    std::vector<float> forced_result;
    {
      ForcedMethod forced(expected);
      Node forced_node = conv_node(c);
      forced_result = testing::values<float>(forced_node.run1(inputs_for(c, d)));
    }
    ASSERT_EQ(by_default.size(), forced_result.size());
    EXPECT_EQ(0, std::memcmp(by_default.data(), forced_result.data(), forced_result.size() * sizeof(float)));
    int64_t oh = 0, ow = 0;
    EXPECT_LT(relative_error(by_default, reference(c, d.x, d.f, d.b, &oh, &ow)), 2e-5);
  }
}

// A sharded run gives each process fewer threads than a single run: the
// default's bytes must not depend on the thread count.
TEST(ConvMethodTest, DefaultBytesDoNotDependOnTheThreadCount) {
  const std::string one = testing::probe_output(QTF_CONV_BITS_PROBE, false, "1");
  const std::string two = testing::probe_output(QTF_CONV_BITS_PROBE, false, "2");
  ASSERT_EQ(one.find("probe failed"), std::string::npos) << one;
  ASSERT_EQ(two.find("probe failed"), std::string::npos) << two;
  ASSERT_NE(one.find("threads 1\n"), std::string::npos) << one;
  if (two.find("threads 2\n") == std::string::npos) GTEST_SKIP() << "needs two usable CPUs: " << two;
  EXPECT_EQ(one.substr(0, one.find("threads")), two.substr(0, two.find("threads")));
}

TEST(ConvMethodGeometry, WinogradOnlyForWide3x3Windows) {
  const auto geometry = [](int64_t in_c, int64_t out_c, int64_t k, int64_t stride, int64_t dilation) {
    ConvGeometry g;
    g.src = {1, in_c, 64, 128};
    g.weights = {out_c, in_c, k, k};
    g.dst = {1, out_c, 64 / stride, 128 / stride};
    g.strides = {stride, stride};
    g.dilations = {dilation, dilation};
    g.pad_l = g.pad_r = {k / 2, k / 2};
    return g;
  };
  EXPECT_TRUE(winograd_by_shape(geometry(32, 64, 3, 1, 0)));
  EXPECT_TRUE(winograd_by_shape(geometry(192, 64, 3, 1, 0)));
  EXPECT_FALSE(winograd_by_shape(geometry(32, 32, 3, 1, 0)));   // too narrow
  EXPECT_FALSE(winograd_by_shape(geometry(256, 16, 3, 1, 0)));  // one side too narrow
  EXPECT_FALSE(winograd_by_shape(geometry(64, 64, 1, 1, 0)));
  EXPECT_FALSE(winograd_by_shape(geometry(64, 64, 5, 1, 0)));
  EXPECT_FALSE(winograd_by_shape(geometry(64, 64, 3, 2, 0)));
  EXPECT_FALSE(winograd_by_shape(geometry(64, 64, 3, 1, 1)));
  ConvGeometry tiny = geometry(64, 64, 3, 1, 0);
  tiny.src[2] = tiny.dst[2] = 4;
  tiny.src[3] = tiny.dst[3] = 4;
  EXPECT_FALSE(winograd_by_shape(tiny));  // too little work to matter
  ConvGeometry grouped = geometry(64, 64, 3, 1, 0);
  grouped.weights = {2, 32, 32, 3, 3};
  EXPECT_FALSE(winograd_by_shape(grouped));
}

TEST(ConvMethodTest, LargeConvolutionsAreTimedAndSmallOnesAreNot) {
  MeasuredPolicy measured;
  const ConvCase big{"timed", 40, 48, 24, 32, 3, 1, 1, "SAME", true};
  const ConvCase small{"untimed", 6, 7, 3, 5, 3, 1, 1, "SAME", true};
  {
    const Data d = data_for(big);
    Node node = conv_node(big);
    Tensor y = node.run1(inputs_for(big, d));
    const ConvMethodChoice choice = last_choice();
    EXPECT_GE(choice.geometry.flop(), kConvMethodTimingMinFlop);
    EXPECT_DOUBLE_EQ(choice.geometry.flop(), 2.0 * 9 * 24 * 32 * 40 * 48);
    ASSERT_FALSE(choice.candidate_ms.empty());
    EXPECT_EQ(choice.candidate_ms.front().first, ConvMethod::kDirectNhwc);  // always a candidate
    bool chosen_was_timed = false;
    for (const auto& [m, ms] : choice.candidate_ms) {
      EXPECT_GT(ms, 0.0) << conv_method_name(m);
      chosen_was_timed = chosen_was_timed || m == choice.method;
    }
    EXPECT_TRUE(chosen_was_timed);
    int64_t oh = 0, ow = 0;
    EXPECT_LT(relative_error(testing::values<float>(y), reference(big, d.x, d.f, d.b, &oh, &ow)), 2e-5);
  }
  {
    const Data d = data_for(small);
    Node node = conv_node(small);
    node.run1(inputs_for(small, d));
    const ConvMethodChoice choice = last_choice();
    EXPECT_TRUE(choice.candidate_ms.empty());
    EXPECT_EQ(choice.method, ConvMethod::kDirectNhwc);
    EXPECT_NE(choice.where.find("test/_FusedConv2D"), std::string::npos);
  }
}

TEST(ConvMethodTest, DepthwiseGeometryCountsOneInputChannelPerOutput) {
  ForcedMethod forced(ConvMethod::kWinograd);
  Node node("DepthwiseConv2dNative");
  node.attr("T", TF_FLOAT).attr("padding", "SAME").attr("strides", {1, 1, 1, 1});
  // [3, 3, C=4, M=2]: 8 outputs, each over 9 taps of one channel.
  Tensor y = node.run1({testing::make<float>({1, 5, 6, 4}, testing::pattern(120, 11, 0.1f)),
                        testing::make<float>({3, 3, 4, 2}, testing::pattern(72, 5, 0.2f))});
  EXPECT_EQ(y.shape(), (Shape{1, 5, 6, 8}));
  const ConvMethodChoice choice = last_choice();
  EXPECT_DOUBLE_EQ(choice.geometry.flop(), 2.0 * 9 * 5 * 6 * 8);
  EXPECT_EQ(choice.method, ConvMethod::kDirectNhwc);  // no grouped Winograd
}

}  // namespace
}  // namespace qtf
