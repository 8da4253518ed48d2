#include "unet_layers.h"

#include <cmath>
#include <cstdio>
#include <random>

namespace unet {
namespace {

// Records the convolutions of the walk; values carry nothing.
struct LayerCollector {
  using Value = int;
  std::vector<ConvLayer> layers;
  Value input() { return 0; }
  Value conv(Value, const ConvLayer& l) {
    layers.push_back(l);
    return 0;
  }
  Value pool(Value) { return 0; }
  Value up_concat(Value, Value) { return 0; }
  void output(Value) {}
};

uint32_t seed_of(const std::string& name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (char ch : name) h = (h ^ static_cast<uint8_t>(ch)) * 16777619u;
  return h;
}

}  // namespace

std::vector<ConvLayer> conv_layers() {
  LayerCollector c;
  build(c);
  return c.layers;
}

double gflop() {
  double flop = 0;
  for (const ConvLayer& l : conv_layers()) {
    flop += 2.0 * l.k * l.k * l.in_c * l.out_c * static_cast<double>(l.height) * l.width;
  }
  return flop * 1e-9;
}

std::vector<float> weights_oihw(const ConvLayer& l) {
  std::mt19937 rng(seed_of(l.name));
  const float limit = std::sqrt(6.0f / static_cast<float>(l.k * l.k * l.in_c));
  std::uniform_real_distribution<float> dist(-limit, limit);
  std::vector<float> w(static_cast<size_t>(l.out_c * l.in_c * l.k * l.k));
  for (float& v : w) v = dist(rng);
  return w;
}

std::vector<float> bias(const ConvLayer& l) {
  std::mt19937 rng(seed_of(l.name + "/bias"));
  std::uniform_real_distribution<float> dist(-0.05f, 0.1f);
  std::vector<float> b(static_cast<size_t>(l.out_c));
  for (float& v : b) v = dist(rng);
  return b;
}

std::vector<float> oihw_to_hwio(const std::vector<float>& w, const ConvLayer& l) {
  std::vector<float> out(w.size());
  for (int o = 0; o < l.out_c; ++o) {
    for (int i = 0; i < l.in_c; ++i) {
      for (int y = 0; y < l.k; ++y) {
        for (int x = 0; x < l.k; ++x) {
          out[static_cast<size_t>(((y * l.k + x) * l.in_c + i) * l.out_c + o)] =
              w[static_cast<size_t>(((o * l.in_c + i) * l.k + y) * l.k + x)];
        }
      }
    }
  }
  return out;
}

std::vector<float> input_nhwc() {
  std::vector<float> x(static_cast<size_t>(kHeight * kWidth * kInChannels));
  for (int y = 0; y < kHeight; ++y) {
    for (int xx = 0; xx < kWidth; ++xx) {
      for (int c = 0; c < kInChannels; ++c) {
        // Smooth gradients with some texture, in [-1, 1].
        const float v = std::sin(0.05f * static_cast<float>(y * (c + 1)) + 0.031f * static_cast<float>(xx)) *
                        std::cos(0.017f * static_cast<float>(xx + 3 * y));
        x[static_cast<size_t>((y * kWidth + xx) * kInChannels + c)] = v;
      }
    }
  }
  return x;
}

std::vector<float> nhwc_to_nchw(const std::vector<float>& x, int h, int w, int c) {
  std::vector<float> out(x.size());
  for (int y = 0; y < h; ++y) {
    for (int xx = 0; xx < w; ++xx) {
      for (int k = 0; k < c; ++k) {
        out[static_cast<size_t>((k * h + y) * w + xx)] = x[static_cast<size_t>((y * w + xx) * c + k)];
      }
    }
  }
  return out;
}

bool write_floats(const std::string& path, const std::vector<float>& v) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(v.data(), sizeof(float), v.size(), f) == v.size();
  return std::fclose(f) == 0 && ok;
}

bool read_floats(const std::string& path, std::vector<float>* v) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  v->clear();
  float buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, sizeof(float), 4096, f)) > 0) v->insert(v->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

}  // namespace unet
