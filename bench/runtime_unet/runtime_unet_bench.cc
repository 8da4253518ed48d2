// Time of one TF_SessionRun of a small U-Net (3x3 conv + ReLU, max-pool,
// nearest upsampling, skip concatenation) on a 1x256x512x3 input, written
// with the SavedModel writer into a temporary folder and loaded through the C
// API. The first run (which builds kernels and caches) is excluded.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

#include "loaded_model.h"
#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"

namespace {

using qsm::ModelBuilder;
using qsm::Output;

std::mt19937 rng(20240601);

// He-style uniform weights for a 3x3 conv, fixed seed.
Output conv_relu(ModelBuilder& b, Output x, const std::string& name, int in_c, int out_c) {
  const float limit = std::sqrt(6.0f / (9.0f * static_cast<float>(in_c)));
  std::uniform_real_distribution<float> dist(-limit, limit);
  std::vector<float> w(static_cast<size_t>(9 * in_c * out_c));
  for (float& v : w) v = dist(rng);
  std::vector<float> bias(static_cast<size_t>(out_c), 0.01f);
  Output y = b.op("Conv2D", {x, b.variable(name + "/kernel", {3, 3, in_c, out_c}, w)},
                  {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}}, name + "/Conv2D");
  y = b.op("BiasAdd", {y, b.variable(name + "/bias", {out_c}, bias)}, {}, name + "/BiasAdd");
  return b.op("Relu", {y}, {}, name + "/Relu");
}

Output pool(ModelBuilder& b, Output x) {
  return b.op("MaxPool", {x}, {{"ksize", qsm::ints({1, 2, 2, 1})}, {"strides", qsm::ints({1, 2, 2, 1})},
                               {"padding", qsm::str("VALID")}});
}

Output up_concat(ModelBuilder& b, Output x, Output skip, int h, int w) {
  Output up = b.op("ResizeNearestNeighbor", {x, b.constant_ints({h, w})});
  return b.op("ConcatV2", {up, skip, b.constant_ints({3})});
}

// Encoder 16-32-64 channels at 256x512, 128x256, 64x128; decoder mirrors it.
std::string write_unet() {
  ModelBuilder b;
  Output x = b.input("input", TF_FLOAT, {1, 256, 512, 3});
  Output e1 = conv_relu(b, x, "enc1", 3, 16);
  Output e2 = conv_relu(b, pool(b, e1), "enc2", 16, 32);
  Output mid = conv_relu(b, pool(b, e2), "mid", 32, 64);
  Output d2 = conv_relu(b, up_concat(b, mid, e2, 128, 256), "dec2", 96, 32);
  Output d1 = conv_relu(b, up_concat(b, d2, e1, 256, 512), "dec1", 48, 16);
  Output head = b.op("Conv2D", {d1, b.variable("head/kernel", {1, 1, 16, 1}, std::vector<float>(16, 0.1f))},
                     {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}}, "head/Conv2D");
  b.output("output_0", b.op("Sigmoid", {head}), {1, 256, 512, 1});
  char tmpl[] = "/tmp/runtime_unet_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) return "";
  const qtf::Status s = b.save(dir);
  if (!s.is_ok()) {
    std::fprintf(stderr, "cannot write the U-Net: %s\n", s.message().c_str());
    return "";
  }
  return dir;
}

void BM_UnetSessionRun(benchmark::State& state) {
  const std::string dir = write_unet();
  if (dir.empty()) {
    state.SkipWithError("model not written");
    return;
  }
  {
    quarrow::LoadedModel model(dir);
    TF_Status* status = model.status();
    if (!model.loaded()) {
      state.SkipWithError(TF_Message(status));
    } else {
      const int64_t dims[] = {1, 256, 512, 3};
      TF_Tensor* input = TF_AllocateTensor(TF_FLOAT, dims, 4, 256 * 512 * 3 * sizeof(float));
      auto* data = static_cast<float*>(TF_TensorData(input));
      for (int k = 0; k < 256 * 512 * 3; ++k) data[k] = static_cast<float>(k % 255) / 127.5f - 1.0f;
      TF_Output feed{TF_GraphOperationByName(model.graph(), "serving_default_input"), 0};
      TF_Output fetch{TF_GraphOperationByName(model.graph(), "StatefulPartitionedCall"), 0};
      auto run_once = [&]() {
        TF_Tensor* out = nullptr;
        TF_SessionRun(model.session(), nullptr, &feed, &input, 1, &fetch, &out, 1, nullptr, 0, nullptr,
                      status);
        if (out != nullptr) TF_DeleteTensor(out);
        return TF_GetCode(status) == TF_OK;
      };
      if (!run_once()) {
        state.SkipWithError(TF_Message(status));
      } else {
        for (auto _ : state) {
          if (!run_once()) {
            state.SkipWithError(TF_Message(status));
            break;
          }
        }
      }
      TF_DeleteTensor(input);
    }
  }
  const std::string cleanup = "rm -rf '" + dir + "'";
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}
BENCHMARK(BM_UnetSessionRun)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
