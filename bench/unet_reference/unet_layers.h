// The reference U-Net shared by both sides of the comparison: its topology as
// one template walked by a network builder (so the runtime's SavedModel and
// the OpenCV DNN net cannot drift apart), deterministic weights and input,
// the exact FLOP count and raw float file I/O.
//
// Topology on a 1x256x512x3 input: three encoder levels of two 3x3
// convolutions + ReLU (16, 32, 64 channels) each followed by 2x2 max-pooling,
// a 128-channel bottleneck at 32x64, three decoder levels of nearest 2x
// upsampling, concatenation with the encoder's skip and two 3x3 convolutions
// + ReLU, then a 1x1 convolution to one channel (no activation).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace unet {

constexpr int kHeight = 256;
constexpr int kWidth = 512;
constexpr int kInChannels = 3;

// One convolution: square kernel, stride 1, SAME padding, with bias.
struct ConvLayer {
  std::string name;
  int in_c = 0;
  int out_c = 0;
  int k = 3;
  bool relu = true;
  int height = 0;  // spatial size it runs at
  int width = 0;
};

// Walks the network with builder `b`, which provides `Value`, and
// input(), conv(Value, const ConvLayer&), pool(Value), up_concat(Value up, Value skip)
// and output(Value).
template <typename B>
void build(B& b) {
  const int widths[] = {16, 32, 64};
  using V = typename B::Value;
  V x = b.input();
  int c = kInChannels, h = kHeight, w = kWidth;
  std::vector<V> skips;
  std::vector<int> skip_c;
  int level = 0;
  for (int width : widths) {
    const std::string p = "enc" + std::to_string(level);
    x = b.conv(x, ConvLayer{p + "a", c, width, 3, true, h, w});
    x = b.conv(x, ConvLayer{p + "b", width, width, 3, true, h, w});
    skips.push_back(x);
    skip_c.push_back(width);
    x = b.pool(x);
    c = width;
    h /= 2;
    w /= 2;
    ++level;
  }
  x = b.conv(x, ConvLayer{"mida", c, 2 * c, 3, true, h, w});
  x = b.conv(x, ConvLayer{"midb", 2 * c, 2 * c, 3, true, h, w});
  c *= 2;
  for (int i = 2; i >= 0; --i) {
    h *= 2;
    w *= 2;
    const std::string p = "dec" + std::to_string(i);
    x = b.up_concat(x, skips[static_cast<size_t>(i)]);
    const int width = skip_c[static_cast<size_t>(i)];
    x = b.conv(x, ConvLayer{p + "a", c + width, width, 3, true, h, w});
    x = b.conv(x, ConvLayer{p + "b", width, width, 3, true, h, w});
    c = width;
  }
  x = b.conv(x, ConvLayer{"head", c, 1, 1, false, h, w});
  b.output(x);
}

// All convolutions in build order.
std::vector<ConvLayer> conv_layers();
// Multiply-adds x 2 of every convolution (pooling, upsampling, bias and ReLU
// are not counted).
double gflop();

// Deterministic weights in OIHW order (He-uniform) and bias of a layer.
std::vector<float> weights_oihw(const ConvLayer& layer);
std::vector<float> bias(const ConvLayer& layer);
// OIHW -> HWIO (TensorFlow's filter layout).
std::vector<float> oihw_to_hwio(const std::vector<float>& w, const ConvLayer& layer);

// Deterministic input image in NHWC and the same values in NCHW.
std::vector<float> input_nhwc();
std::vector<float> nhwc_to_nchw(const std::vector<float>& x, int h, int w, int c);

bool write_floats(const std::string& path, const std::vector<float>& v);
bool read_floats(const std::string& path, std::vector<float>* v);

}  // namespace unet
