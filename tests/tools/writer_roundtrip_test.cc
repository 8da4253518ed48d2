// Models written by the writer, loaded and run by the built-in runtime through
// the C API: results compared with the same network computed in the test.
#include <unistd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"
#include "test_models.h"

namespace {

using qsm::ModelBuilder;
using qsm::Output;

// One loaded model and its C API handles.
struct Session {
  TF_SessionOptions* options = TF_NewSessionOptions();
  TF_Graph* graph = TF_NewGraph();
  TF_Status* status = TF_NewStatus();
  TF_Session* session = nullptr;

  explicit Session(const std::string& dir) {
    const char* tags[] = {"serve"};
    session = TF_LoadSessionFromSavedModel(options, nullptr, dir.c_str(), tags, 1, graph, nullptr, status);
  }
  ~Session() {
    if (session != nullptr) {
      TF_CloseSession(session, status);
      TF_DeleteSession(session, status);
    }
    TF_DeleteGraph(graph);
    TF_DeleteStatus(status);
    TF_DeleteSessionOptions(options);
  }
  bool ok() const { return session != nullptr && TF_GetCode(status) == TF_OK; }

  // Runs with one float feed; returns the fetched outputs' data and shapes,
  // or false with the status left set.
  bool run(const std::string& input_op, const std::vector<int64_t>& dims, const std::vector<float>& in,
           int outputs, std::vector<std::vector<float>>* values, std::vector<std::vector<int64_t>>* shapes) {
    TF_Operation* input = TF_GraphOperationByName(graph, input_op.c_str());
    TF_Operation* call = TF_GraphOperationByName(graph, "StatefulPartitionedCall");
    if (input == nullptr || call == nullptr) return false;
    TF_Tensor* t = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), in.size() * 4);
    std::memcpy(TF_TensorData(t), in.data(), in.size() * 4);
    TF_Output feed{input, 0};
    std::vector<TF_Output> fetches;
    for (int k = 0; k < outputs; ++k) fetches.push_back(TF_Output{call, k});
    std::vector<TF_Tensor*> results(static_cast<size_t>(outputs), nullptr);
    TF_SessionRun(session, nullptr, &feed, &t, 1, fetches.data(), results.data(), outputs, nullptr, 0,
                  nullptr, status);
    TF_DeleteTensor(t);
    if (TF_GetCode(status) != TF_OK) return false;
    values->clear();
    shapes->clear();
    for (TF_Tensor* r : results) {
      std::vector<int64_t> shape;
      for (int d = 0; d < TF_NumDims(r); ++d) shape.push_back(TF_Dim(r, d));
      const auto* p = static_cast<const float*>(TF_TensorData(r));
      values->emplace_back(p, p + TF_TensorByteSize(r) / 4);
      shapes->push_back(shape);
      TF_DeleteTensor(r);
    }
    return true;
  }
};

std::vector<float> random_values(size_t n, unsigned seed, float lo = -1.0f, float hi = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

std::string temp_dir(const std::string& name) { return ::testing::TempDir() + "/" + std::to_string(getpid()) + "_qsm_roundtrip_" + name; }

// Reference NHWC ops on plain vectors (batch 1).
struct Image {
  int h, w, c;
  std::vector<float> v;
  float at(int y, int x, int ch) const { return v[static_cast<size_t>((y * w + x) * c + ch)]; }
};

Image conv3x3_same_relu(const Image& in, const std::vector<float>& k, const std::vector<float>& bias, int out_c) {
  Image out{in.h, in.w, out_c, std::vector<float>(static_cast<size_t>(in.h * in.w * out_c))};
  for (int y = 0; y < in.h; ++y) {
    for (int x = 0; x < in.w; ++x) {
      for (int o = 0; o < out_c; ++o) {
        double s = bias[static_cast<size_t>(o)];
        for (int dy = 0; dy < 3; ++dy) {
          for (int dx = 0; dx < 3; ++dx) {
            const int yy = y + dy - 1, xx = x + dx - 1;
            if (yy < 0 || yy >= in.h || xx < 0 || xx >= in.w) continue;
            for (int i = 0; i < in.c; ++i) {
              s += in.at(yy, xx, i) * k[static_cast<size_t>(((dy * 3 + dx) * in.c + i) * out_c + o)];
            }
          }
        }
        out.v[static_cast<size_t>((y * in.w + x) * out_c + o)] = static_cast<float>(std::max(0.0, s));
      }
    }
  }
  return out;
}

TEST(WriterRoundTrip, ConvReluPoolUpsampleConcatMatchReference) {
  const int H = 4, W = 6, C = 3, F = 2;
  const std::vector<float> kernel = random_values(3 * 3 * C * F, 1);
  const std::vector<float> bias = {0.1f, -0.2f};
  const std::vector<float> input = random_values(static_cast<size_t>(H * W * C), 2);

  ModelBuilder b;
  Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
  Output y = b.op("Conv2D", {x, b.variable("conv/kernel", {3, 3, C, F}, kernel)},
                  {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}});
  y = b.op("Relu", {b.op("BiasAdd", {y, b.variable("conv/bias", {F}, bias)})});
  Output pooled = b.op("MaxPool", {y}, {{"ksize", qsm::ints({1, 2, 2, 1})}, {"strides", qsm::ints({1, 2, 2, 1})},
                                        {"padding", qsm::str("VALID")}});
  Output up = b.op("ResizeNearestNeighbor", {pooled, b.constant_ints({H, W})});
  b.output("output_0", b.op("ConcatV2", {y, up, b.constant_ints({3})}));
  const std::string dir = temp_dir("unet_like");
  ASSERT_TRUE(b.save(dir).is_ok()) << b.status().message();

  Session s(dir);
  ASSERT_TRUE(s.ok()) << TF_Message(s.status);
  std::vector<std::vector<float>> out;
  std::vector<std::vector<int64_t>> shapes;
  ASSERT_TRUE(s.run("serving_default_input", {1, H, W, C}, input, 1, &out, &shapes)) << TF_Message(s.status);
  ASSERT_EQ(shapes[0], (std::vector<int64_t>{1, H, W, 2 * F}));

  const Image conv = conv3x3_same_relu(Image{H, W, C, input}, kernel, bias, F);
  for (int yy = 0; yy < H; ++yy) {
    for (int xx = 0; xx < W; ++xx) {
      for (int o = 0; o < F; ++o) {
        const float want_conv = conv.at(yy, xx, o);
        // 2x2 max-pool then nearest upsampling back to H x W.
        const int py = yy / 2 * 2, px = xx / 2 * 2;
        const float want_up = std::max(std::max(conv.at(py, px, o), conv.at(py, px + 1, o)),
                                       std::max(conv.at(py + 1, px, o), conv.at(py + 1, px + 1, o)));
        const size_t base = static_cast<size_t>((yy * W + xx) * 2 * F);
        EXPECT_NEAR(out[0][base + static_cast<size_t>(o)], want_conv, 1e-5) << yy << "," << xx;
        EXPECT_NEAR(out[0][base + static_cast<size_t>(F + o)], want_up, 1e-5) << yy << "," << xx;
      }
    }
  }
}

TEST(WriterRoundTrip, OutputsComeInSortedNameOrder) {
  ModelBuilder b;
  Output x = b.input("x", TF_FLOAT, {2});
  b.output("b_doubled", b.op("Mul", {x, b.constant(2.0f)}));
  b.output("a_plus_var", b.op("AddV2", {x, b.variable("offset", {2}, {10.0f, 20.0f})}));
  const std::string dir = temp_dir("two_outputs");
  ASSERT_TRUE(b.save(dir).is_ok()) << b.status().message();
  Session s(dir);
  ASSERT_TRUE(s.ok()) << TF_Message(s.status);
  std::vector<std::vector<float>> out;
  std::vector<std::vector<int64_t>> shapes;
  ASSERT_TRUE(s.run("serving_default_x", {2}, {1.5f, -3.0f}, 2, &out, &shapes)) << TF_Message(s.status);
  EXPECT_EQ(out[0], (std::vector<float>{11.5f, 17.0f}));
  EXPECT_EQ(out[1], (std::vector<float>{3.0f, -6.0f}));
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, 4) == 0; }

TEST(TestModels, SegmentationScoreIsTheChosenChannel) {
  struct Case {
    int channel;
    float scale, offset;
    int h, w;
  } cases[] = {{0, 1, 0, 256, 512}, {2, 1, 0, 3, 5}, {1, 2.0f, -0.5f, 7, 4}};
  for (const Case& c : cases) {
    qsm::SegmentationModelSpec params;
    params.channel = c.channel;
    params.scale = c.scale;
    params.offset = c.offset;
    const std::string dir = temp_dir("seg" + std::to_string(c.channel));
    ASSERT_TRUE(qsm::write_segmentation_model(dir, params).is_ok());
    Session s(dir);
    ASSERT_TRUE(s.ok()) << TF_Message(s.status);
    const std::vector<float> in = random_values(static_cast<size_t>(c.h * c.w * 3), 3, -2, 2);
    std::vector<std::vector<float>> out;
    std::vector<std::vector<int64_t>> shapes;
    ASSERT_TRUE(s.run("serving_default_input", {1, c.h, c.w, 3}, in, 1, &out, &shapes)) << TF_Message(s.status);
    ASSERT_EQ(shapes[0], (std::vector<int64_t>{1, c.h, c.w, 1}));
    for (size_t p = 0; p < out[0].size(); ++p) {
      const float want = c.scale * in[p * 3 + static_cast<size_t>(c.channel)] + c.offset;
      ASSERT_TRUE(same_bits(out[0][p], want)) << "pixel " << p << ": " << out[0][p] << " vs " << want;
    }
  }
}

TEST(TestModels, DepthIsTheChannelBitForBitIncludingSpecialValues) {
  const std::string dir = temp_dir("depth");
  ASSERT_TRUE(qsm::write_depth_model(dir, {1, "inputs"}).is_ok());
  Session s(dir);
  ASSERT_TRUE(s.ok()) << TF_Message(s.status);
  std::vector<float> in = random_values(256 * 512 * 3, 4, -5, 5);
  const float specials[] = {-0.0f, 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
  for (size_t k = 0; k < 5; ++k) in[k * 1000 * 3 + 1] = specials[k];
  std::vector<std::vector<float>> out;
  std::vector<std::vector<int64_t>> shapes;
  ASSERT_TRUE(s.run("serving_default_inputs", {1, 256, 512, 3}, in, 1, &out, &shapes)) << TF_Message(s.status);
  ASSERT_EQ(shapes[0], (std::vector<int64_t>{1, 1, 256, 512}));
  ASSERT_EQ(out[0].size(), 131072u);
  for (size_t p = 0; p < out[0].size(); ++p) ASSERT_TRUE(same_bits(out[0][p], in[p * 3 + 1])) << p;
}

TEST(TestModels, FailingModelLoadsButEveryRunFails) {
  const std::string dir = temp_dir("failing");
  ASSERT_TRUE(qsm::write_failing_model(dir).is_ok());
  Session s(dir);
  ASSERT_TRUE(s.ok()) << TF_Message(s.status);
  std::vector<std::vector<float>> out;
  std::vector<std::vector<int64_t>> shapes;
  for (int run = 0; run < 2; ++run) {
    EXPECT_FALSE(s.run("serving_default_input", {1, 2, 2, 3}, std::vector<float>(12, 1.0f), 1, &out, &shapes));
    EXPECT_NE(TF_GetCode(s.status), TF_OK);
  }
}

TEST(TestModels, RenamedInputAndModelFolder) {
  const std::string dir = temp_dir("renamed");
  ASSERT_TRUE(qsm::write_model_without_contract_input(dir).is_ok());
  Session s(dir);
  ASSERT_TRUE(s.ok()) << TF_Message(s.status);
  EXPECT_EQ(TF_GraphOperationByName(s.graph, "serving_default_input"), nullptr);
  EXPECT_NE(TF_GraphOperationByName(s.graph, "serving_default_image"), nullptr);

  const std::string folder = temp_dir("folder");
  ASSERT_TRUE(qsm::write_model_folder(folder).is_ok());
  for (const char* name : {"sky_segm_model", "ground_segm_model", "indoor_depth_model", "outdoor_depth_model"}) {
    Session m(folder + "/" + name);
    EXPECT_TRUE(m.ok()) << name << ": " << TF_Message(m.status);
  }
  qsm::SegmentationModelSpec bad;
  bad.channel = 3;
  EXPECT_FALSE(qsm::write_segmentation_model(temp_dir("bad"), bad).is_ok());
}

}  // namespace
