// `quarrow-models adapt`: the shape decisions on their own, then round trips
// of networks exported the way other tools export them (NCHW, logits, other
// names, outputs elsewhere), each adapted, checked and run, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "adapt_output.h"
#include "loaded_model.h"
#include "model_roles.h"
#include "npy.h"
#include "savedmodel_writer.h"
#include "test_models.h"
#include "tool_process.h"

namespace {

using quarrow::models::Layout;
using quarrow::models::ScoreChoice;
using quarrow::models::testing::Result;
using quarrow::models::testing::run_tool;

std::string temp(const std::string& name) {
  return ::testing::TempDir() + "/" + std::to_string(getpid()) + "_adapt_" + name;
}

// A fresh path: adapt refuses to write into a folder that holds anything.
std::string fresh(const std::string& name) {
  const std::string path = temp(name);
  std::filesystem::remove_all(path);
  return path;
}

const quarrow::models::ModelRole& role(const std::string& name) { return *quarrow::models::find_role(name); }

TEST(AdaptScore, ParsesEveryForm) {
  struct Case {
    const char* text;
    bool ok;
    ScoreChoice::Kind kind;
    int channel;
  } cases[] = {
      {"softmax:1", true, ScoreChoice::kSoftmax, 1}, {"softmax:0", true, ScoreChoice::kSoftmax, 0},
      {"sigmoid", true, ScoreChoice::kSigmoid, -1},  {"sigmoid:3", true, ScoreChoice::kSigmoid, 3},
      {"identity", true, ScoreChoice::kIdentity, -1}, {"identity:12", true, ScoreChoice::kIdentity, 12},
      {"softmax", false, ScoreChoice::kDefault, -1},  {"softmax:", false, ScoreChoice::kDefault, -1},
      {"softmax:-1", false, ScoreChoice::kDefault, -1}, {"softmax:1x", false, ScoreChoice::kDefault, -1},
      {"relu", false, ScoreChoice::kDefault, -1},     {"", false, ScoreChoice::kDefault, -1},
  };
  for (const Case& c : cases) {
    ScoreChoice score;
    std::string error;
    EXPECT_EQ(quarrow::models::parse_score(c.text, &score, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(score.kind, c.kind) << c.text;
    EXPECT_EQ(score.channel, c.channel) << c.text;
  }
}

TEST(AdaptInputLayout, TakesTheLayoutThatFits) {
  struct Case {
    std::vector<int64_t> shape;
    bool known_rank;
    const char* requested;
    bool ok;
    Layout layout;
    const char* error;
  } cases[] = {
      {{1, 256, 512, 3}, true, "", true, Layout::kNhwc, ""},
      {{-1, -1, -1, 3}, true, "", true, Layout::kNhwc, ""},
      {{-1, 3, 256, 512}, true, "", true, Layout::kNchw, ""},
      {{-1, 3, -1, -1}, true, "", true, Layout::kNchw, ""},
      {{-1, -1, -1, -1}, true, "", true, Layout::kNhwc, ""},
      {{-1, -1, -1, -1}, true, "nchw", true, Layout::kNchw, ""},
      {{}, false, "nchw", true, Layout::kNchw, ""},
      {{}, false, "", true, Layout::kNhwc, ""},
      {{-1, 3, 256, 512}, true, "nhwc", false, Layout::kNhwc,
       "the source input [?,3,256,512] cannot take NHWC [1,256,512,3]"},
      {{1, 256, 512, 3}, true, "nchw", false, Layout::kNhwc,
       "the source input [1,256,512,3] cannot take NCHW [1,3,256,512]"},
      {{-1, 3, 160, 160}, true, "", false, Layout::kNhwc,
       "the source input [?,3,160,160] takes neither [1,256,512,3] (NHWC) nor [1,3,256,512] (NCHW): "
       "quarrow feeds 256x512 RGB images"},
      {{2, 256, 512, 3}, true, "", false, Layout::kNhwc,
       "the source input [2,256,512,3] takes neither [1,256,512,3] (NHWC) nor [1,3,256,512] (NCHW): "
       "quarrow feeds 256x512 RGB images"},
      {{256, 512, 3}, true, "", false, Layout::kNhwc,
       "the source input [256,512,3] takes neither [1,256,512,3] (NHWC) nor [1,3,256,512] (NCHW): "
       "quarrow feeds 256x512 RGB images"},
  };
  for (const Case& c : cases) {
    Layout layout = Layout::kNhwc;
    std::string error;
    EXPECT_EQ(quarrow::models::choose_input_layout(c.shape, c.known_rank, c.requested, &layout, &error), c.ok)
        << quarrow::models::dims_text(c.shape) << " " << c.requested << ": " << error;
    if (c.ok) {
      EXPECT_EQ(layout, c.layout) << quarrow::models::dims_text(c.shape) << " " << c.requested;
    } else {
      EXPECT_EQ(error, c.error);
    }
  }
}

ScoreChoice score(const char* text) {
  ScoreChoice s;
  std::string error;
  if (*text != '\0') {
    EXPECT_TRUE(quarrow::models::parse_score(text, &s, &error)) << error;
  }
  return s;
}

TEST(AdaptOutputPlan, DecidesFromTheShapeOrRefuses) {
  struct Case {
    const char* role;
    std::vector<int64_t> shape;
    const char* score;
    const char* result;  // the description, "?" for "needs the real shape", or the refusal
  } cases[] = {
      {"sky", {-1, 256, 512, 1}, "", "NHWC [?,256,512,1]"},
      {"sky", {1, 2, 256, 512}, "softmax:1", "NCHW [1,2,256,512], softmax, channel 1"},
      {"ground", {1, 256, 512, 5}, "sigmoid:4", "NHWC [1,256,512,5], channel 4, sigmoid"},
      {"sky", {1, 1, 256, 512}, "sigmoid", "NCHW [1,1,256,512], sigmoid"},
      {"sky", {1, 256, 512}, "identity", "[1,256,512]"},
      {"sky", {256, 512}, "", "[256,512]"},
      {"indoor_depth", {1, 256, 512, 1}, "", "NHWC [1,256,512,1]"},
      {"outdoor_depth", {-1, 1, 256, 512}, "identity", "NCHW [?,1,256,512]"},
      {"indoor_depth", {1, 3, 256, 512}, "identity:2", "NCHW [1,3,256,512], channel 2"},
      {"sky", {-1, -1, -1, -1}, "", "?"},
      {"sky", {-1, -1, -1, 2}, "softmax:1", "NHWC [?,?,?,2], softmax, channel 1"},
      {"sky", {-1, 2, -1, -1}, "softmax:1", "NCHW [?,2,?,?], softmax, channel 1"},
      {"sky", {-1, 256, 512, -1}, "", "?"},
      {"sky", {-1, 1000}, "", "the source output [?,1000] is not a 256x512 map"},
      {"sky", {1, 128, 256, 1}, "", "the source output [1,128,256,1] is not a 256x512 map in NHWC or NCHW"},
      {"sky", {2, 256, 512, 1}, "", "the source output [2,256,512,1] is not a 256x512 map in NHWC or NCHW"},
      {"sky", {1, 2, 256, 512}, "",
       "the source output [1,2,256,512] has 2 channels; choose the class with --score softmax:CLASS, "
       "sigmoid:CLASS or identity:CLASS"},
      {"sky", {1, 2, 256, 512}, "sigmoid",
       "the source output [1,2,256,512] has 2 channels; choose the class with --score softmax:CLASS, "
       "sigmoid:CLASS or identity:CLASS"},
      {"ground", {1, 256, 512, 1}, "softmax:0",
       "--score softmax needs at least two channels; the source output [1,256,512,1] has one"},
      {"sky", {1, 2, 256, 512}, "softmax:2", "channel 2 is not in the source output [1,2,256,512] (2 channels)"},
      {"indoor_depth", {1, 1, 256, 512}, "sigmoid",
       "--score sigmoid is for the segmentation roles; indoor_depth passes depths through"},
      {"outdoor_depth", {1, 256, 512, 2}, "",
       "the source output [1,256,512,2] has 2 channels; choose the depth channel with --score identity:CHANNEL"},
  };
  for (const Case& c : cases) {
    quarrow::models::OutputPlan plan;
    std::string error;
    const bool ok = quarrow::models::plan_output(role(c.role), c.shape, true, score(c.score), &plan, &error);
    const std::string what = std::string(c.role) + " " + quarrow::models::dims_text(c.shape) + " " + c.score;
    if (!ok) {
      EXPECT_EQ(error, c.result) << what;
    } else if (plan.needs_real_shape) {
      EXPECT_STREQ(c.result, "?") << what;
    } else {
      EXPECT_EQ(plan.description, c.result) << what;
    }
  }
  quarrow::models::OutputPlan plan;
  std::string error;
  ASSERT_TRUE(quarrow::models::plan_output(role("sky"), {}, false, ScoreChoice{}, &plan, &error));
  EXPECT_TRUE(plan.needs_real_shape);
}

// The test image: exact multiples of 1/4 in [-2, 2], different per channel.
float pixel(int h, int w, int c) { return static_cast<float>((h * 7 + w * 3 + c * 5) % 17 - 8) / 4.0f; }

// Runs a model once, feeding `x` at `input_op`; returns output 0 of
// StatefulPartitionedCall and its shape.
std::vector<float> run_once(const std::string& dir, const std::string& input_op, const std::vector<int64_t>& dims,
                            const std::vector<float>& x, std::vector<int64_t>* shape) {
  quarrow::LoadedModel model;
  std::string error;
  EXPECT_TRUE(model.load(dir, "", &error)) << error;
  TF_Output in, out;
  EXPECT_TRUE(model.find_output(input_op, &in, &error)) << error;
  EXPECT_TRUE(model.find_output("StatefulPartitionedCall:0", &out, &error)) << error;
  TF_Tensor* t = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), x.size() * sizeof(float));
  std::memcpy(TF_TensorData(t), x.data(), x.size() * sizeof(float));
  std::vector<TF_Tensor*> results;
  const bool ran = model.run({in}, {t}, {out}, &results, &error);
  TF_DeleteTensor(t);
  EXPECT_TRUE(ran) << error;
  if (!ran) return {};
  shape->clear();
  for (int k = 0; k < TF_NumDims(results[0]); ++k) shape->push_back(TF_Dim(results[0], k));
  const auto* y = static_cast<const float*>(TF_TensorData(results[0]));
  std::vector<float> values(y, y + TF_TensorByteSize(results[0]) / sizeof(float));
  TF_DeleteTensor(results[0]);
  return values;
}

// Runs an adapted model on the test image.
std::vector<float> run_adapted(const std::string& dir, const std::string& input_op, std::vector<int64_t>* shape) {
  std::vector<float> x(256 * 512 * 3);
  for (int h = 0; h < 256; ++h) {
    for (int w = 0; w < 512; ++w) {
      for (int c = 0; c < 3; ++c) x[static_cast<size_t>((h * 512 + w) * 3 + c)] = pixel(h, w, c);
    }
  }
  return run_once(dir, input_op, {1, 256, 512, 3}, x, shape);
}

// Channel c of the foreign model at pixel (h, w), in double.
double logit(const qsm::ForeignModelSpec& form, int h, int w, int c) {
  double sum = form.bias[static_cast<size_t>(c)];
  for (int i = 0; i < 3; ++i) sum += pixel(h, w, i) * form.weights[static_cast<size_t>(i * form.channels + c)];
  return sum;
}

struct RoundTrip {
  const char* what;
  qsm::ForeignModelSpec form;
  const char* role;
  const char* options;
  const char* description;  // what adapt says it did
  // The expected output at a pixel.
  double (*expected)(const qsm::ForeignModelSpec&, int h, int w);
  double tolerance;  // 0 = bit for bit
};

qsm::ForeignModelSpec spec_with(void (*change)(qsm::ForeignModelSpec*)) {
  qsm::ForeignModelSpec form;
  change(&form);
  return form;
}

TEST(Adapt, RoundTripsMeetTheContractAndComputeTheSource) {
  const RoundTrip cases[] = {
      {"NCHW two-class logits, softmax of class 1", qsm::ForeignModelSpec{}, "sky", "--score softmax:1",
       "input NCHW (transposed), output 'logits' NCHW [?,2,256,512], softmax, channel 1",
       [](const qsm::ForeignModelSpec& s, int h, int w) {
         return 1.0 / (1.0 + std::exp(logit(s, h, w, 0) - logit(s, h, w, 1)));
       },
       1e-6},
      {"NCHW logits, softmax of class 0, input layout given",
       spec_with([](qsm::ForeignModelSpec* s) { s->weights = {1, 0.5f, -1, 0.25f, 0, 2}; }), "ground",
       "--input-layout nchw --score softmax:0",
       "input NCHW (transposed), output 'logits' NCHW [?,2,256,512], softmax, channel 0",
       [](const qsm::ForeignModelSpec& s, int h, int w) {
         return 1.0 / (1.0 + std::exp(logit(s, h, w, 1) - logit(s, h, w, 0)));
       },
       1e-6},
      {"NHWC one-channel logit at StatefulPartitionedCall_1 (Keras 3), sigmoid",
       spec_with([](qsm::ForeignModelSpec* s) {
         s->nchw_input = s->nchw_output = false;
         s->channels = 1;
         s->weights = {0.5f, -1, 0.25f};
         s->bias = {0.125f};
         s->input_name = "input_layer";
         s->call_name = "StatefulPartitionedCall_1";
       }),
       "ground", "--score sigmoid", "input NHWC, output 'logits' NHWC [?,256,512,1], sigmoid",
       [](const qsm::ForeignModelSpec& s, int h, int w) { return 1.0 / (1.0 + std::exp(-logit(s, h, w, 0))); },
       1e-6},
      {"NHWC three scores, one chosen as is",
       spec_with([](qsm::ForeignModelSpec* s) {
         s->nchw_input = s->nchw_output = false;
         s->channels = 3;
         s->weights = {1, 0, 0, 0, 1, 0, 0, 0, 1};
         s->bias = {0, 0, 0};
       }),
       "sky", "--score identity:2", "input NHWC, output 'logits' NHWC [?,256,512,3], channel 2",
       [](const qsm::ForeignModelSpec&, int h, int w) { return static_cast<double>(pixel(h, w, 2)); }, 0},
      {"depth NHWC [1,256,512,1] transposed to NCHW, output chosen among two",
       spec_with([](qsm::ForeignModelSpec* s) {
         s->nchw_input = s->nchw_output = false;
         s->channels = 1;
         s->weights = {0, 1, 0};
         s->bias = {0};
         s->output_name = "depth";
         s->second_output = true;
       }),
       "indoor_depth", "--output depth", "input NHWC, output 'depth' NHWC [?,256,512,1]",
       [](const qsm::ForeignModelSpec&, int h, int w) { return static_cast<double>(pixel(h, w, 1)); }, 0},
      {"depth at PartitionedCall:0 (onnx-tf), NCHW in and out, shape left open",
       spec_with([](qsm::ForeignModelSpec* s) {
         s->channels = 1;
         s->weights = {1, 0, 0};
         s->bias = {0};
         s->output_name = "output";
         s->input_name = "input";
         s->output_shape_known = false;
         s->call_name = "PartitionedCall";
       }),
       "outdoor_depth", "", "input NCHW (transposed), output 'output' NCHW [1,1,256,512]",
       [](const qsm::ForeignModelSpec&, int h, int w) { return static_cast<double>(pixel(h, w, 0)); }, 0},
      {"a second output picked by --output", spec_with([](qsm::ForeignModelSpec* s) { s->second_output = true; }),
       "sky", "--output aux", "input NCHW (transposed), output 'aux' NHWC [?,256,512,1]",
       [](const qsm::ForeignModelSpec&, int h, int w) { return static_cast<double>(pixel(h, w, 0)); }, 0},
  };
  int n = 0;
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string source = fresh("source_" + std::to_string(n));
    const std::string adapted = fresh("adapted_" + std::to_string(n++));
    ASSERT_TRUE(qsm::write_foreign_model(source, c.form).is_ok());
    const Result r = run_tool("adapt " + source + " " + adapted + " --role " + c.role + " " + c.options);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    const quarrow::models::ModelRole& target = role(c.role);
    EXPECT_NE(r.out.find(adapted + ": " + c.role + " model wrapping " + source + "; " + c.description + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(adapted + ": meets the " + std::string(c.role) + " contract (float " +
                         quarrow::models::dims_text(target.output_shape) + " 524288 bytes"),
              std::string::npos)
        << r.out;
    std::vector<int64_t> shape;
    const std::vector<float> y = run_adapted(adapted, target.input_op, &shape);
    ASSERT_EQ(shape, target.output_shape);
    ASSERT_EQ(y.size(), 256u * 512u);
    double worst = 0;
    size_t mismatches = 0;
    for (int h = 0; h < 256; ++h) {
      for (int w = 0; w < 512; ++w) {
        const double want = c.expected(c.form, h, w);
        const double got = y[static_cast<size_t>(h * 512 + w)];
        worst = std::max(worst, std::fabs(got - want));
        if (c.tolerance == 0 && static_cast<float>(want) != y[static_cast<size_t>(h * 512 + w)]) ++mismatches;
      }
    }
    EXPECT_LE(worst, c.tolerance);
    EXPECT_EQ(mismatches, 0u);
  }
}

TEST(Adapt, AdaptedModelCarriesTheSourceCheckpoint) {
  const std::string source = fresh("ckpt_source"), adapted = fresh("ckpt_adapted");
  ASSERT_TRUE(qsm::write_foreign_model(source).is_ok());
  ASSERT_EQ(run_tool("adapt " + source + " " + adapted + " --role sky --score softmax:1").code, 0);
  for (const char* file : {"/variables/variables.index", "/variables/variables.data-00000-of-00001"}) {
    EXPECT_EQ(quarrow::models::testing::read_file(adapted + file), quarrow::models::testing::read_file(source + file)) << file;
  }
  const Result r = run_tool("inspect " + adapted);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* part : {"input  input: float [1,256,512,3] at serving_default_input:0",
                           "output output_0: float [1,256,512,1] at StatefulPartitionedCall:0", ", 0 unsupported):",
                           "conv/kernel/.ATTRIBUTES/VARIABLE_VALUE: float [1,1,3,2]", "RestoreV2"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  // The source's serving, save and restore functions, and the new serving function.
  EXPECT_NE(r.out.find("functions: 4\n"), std::string::npos) << r.out;
}

TEST(Adapt, AFolderOfAdaptedModelsPassesCheck) {
  const std::string folder = fresh("folder");
  const std::string source_seg = fresh("folder_seg"), source_depth = fresh("folder_depth");
  ASSERT_TRUE(qsm::write_foreign_model(source_seg).is_ok());
  qsm::ForeignModelSpec depth;
  depth.channels = 1;
  depth.weights = {1, 0, 0};
  depth.bias = {0};
  ASSERT_TRUE(qsm::write_foreign_model(source_depth, depth).is_ok());
  for (const quarrow::models::ModelRole& r : quarrow::models::model_roles()) {
    const std::string source = r.depth ? source_depth : source_seg;
    const Result a = run_tool("adapt " + source + " " + folder + "/" + r.folder + " --role " + r.name +
                              (r.depth ? "" : " --score softmax:1"));
    ASSERT_EQ(a.code, 0) << r.name << ": " << a.err;
  }
  const Result c = run_tool("check " + folder);
  EXPECT_EQ(c.code, 0) << c.out << c.err;
  EXPECT_NE(c.out.find("all four models meet the contract"), std::string::npos) << c.out;
}

// A model written by `build`, to refuse.
std::string written(const std::string& name, const std::function<void(qsm::ModelBuilder&)>& build) {
  const std::string dir = fresh(name);
  qsm::ModelBuilder b;
  build(b);
  EXPECT_TRUE(b.save(dir).is_ok()) << b.status().message();
  return dir;
}

TEST(Adapt, RefusesWhatCannotMeetTheContractInOneLine) {
  const std::string nchw = fresh("refuse_nchw");
  ASSERT_TRUE(qsm::write_foreign_model(nchw).is_ok());
  const std::string small = written("refuse_small", [](qsm::ModelBuilder& b) {
    b.output("y", b.op("Relu", {b.input("x", TF_FLOAT, {-1, 3, 224, 224})}), {-1, 3, 224, 224});
  });
  const std::string integer = written("refuse_int", [](qsm::ModelBuilder& b) {
    b.output("y", b.op("Cast", {b.input("x", TF_INT32, {1, 256, 512, 3})}, {{"DstT", qsm::type(TF_FLOAT)}}));
  });
  const std::string two_inputs = written("refuse_two_inputs", [](qsm::ModelBuilder& b) {
    b.output("y", b.op("AddV2", {b.input("a", TF_FLOAT, {1, 256, 512, 3}), b.input("b", TF_FLOAT, {1, 256, 512, 3})}));
  });
  const std::string classifier = written("refuse_classifier", [](qsm::ModelBuilder& b) {
    qsm::Output x = b.input("x", TF_FLOAT, {1, 256, 512, 3});
    b.output("probs", b.op("Mean", {x, b.constant_ints({1, 2})}), {1, 3});
  });
  const std::string counts = written("refuse_counts", [](qsm::ModelBuilder& b) {
    qsm::Output x = b.input("x", TF_FLOAT, {1, 256, 512, 3});
    b.output("classes", b.op("ArgMax", {x, b.constant(qsm::TensorValue::int32s({}, {3}))}), {1, 256, 512});
  });
  const std::string two_outputs = fresh("refuse_two_outputs");
  qsm::ForeignModelSpec form;
  form.second_output = true;
  ASSERT_TRUE(qsm::write_foreign_model(two_outputs, form).is_ok());
  const std::string occupied = fresh("refuse_occupied");
  ASSERT_TRUE(qsm::write_segmentation_model(occupied).is_ok());

  struct Case {
    std::string args;
    std::string line;  // after "quarrow-models: adapt: "
  } cases[] = {
      {small + " " + fresh("out_small") + " --role sky",
       "the source input [?,3,224,224] takes neither [1,256,512,3] (NHWC) nor [1,3,256,512] (NCHW): quarrow feeds "
       "256x512 RGB images"},
      {nchw + " " + fresh("out_layout") + " --role sky --input-layout nhwc --score softmax:1",
       "the source input [?,3,256,512] cannot take NHWC [1,256,512,3]"},
      {integer + " " + fresh("out_int") + " --role sky", "input 'x' is INT32; quarrow feeds float32 images"},
      {two_inputs + " " + fresh("out_two") + " --role ground",
       "serving_default takes 2 inputs (a, b); quarrow feeds one image"},
      {classifier + " " + fresh("out_classifier") + " --role sky", "the source output [1,3] is not a 256x512 map"},
      {counts + " " + fresh("out_counts") + " --role sky", "output 'classes' is INT64, not a floating-point map"},
      {two_outputs + " " + fresh("out_ambiguous") + " --role sky --score softmax:1",
       "serving_default has 2 outputs (aux, logits); choose one with --output"},
      {two_outputs + " " + fresh("out_missing") + " --role sky --output mask",
       "serving_default has no output 'mask' (outputs: aux, logits)"},
      {nchw + " " + fresh("out_class") + " --role sky",
       "the source output [?,2,256,512] has 2 channels; choose the class with --score softmax:CLASS, sigmoid:CLASS "
       "or identity:CLASS"},
      {nchw + " " + fresh("out_range") + " --role sky --score softmax:7",
       "channel 7 is not in the source output [?,2,256,512] (2 channels)"},
      {nchw + " " + occupied + " --role sky --score softmax:1", occupied + " already exists; adapt writes a new folder"},
      {temp("nowhere") + " " + fresh("out_nowhere") + " --role sky",
       "SavedModel folder '" + temp("nowhere") + "' does not exist"},
  };
  for (const Case& c : cases) {
    const Result r = run_tool("adapt " + c.args);
    EXPECT_EQ(r.code, 1) << c.args;
    EXPECT_EQ(r.err, "quarrow-models: adapt: " + c.line + "\n") << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
  // Nothing was written for a refused model.
  EXPECT_FALSE(std::filesystem::exists(temp("out_class")));
}

TEST(Adapt, RefusesAnOutputThatNoFunctionCallComputes) {
  const std::string source = fresh("refuse_tf1");
  ASSERT_TRUE(qsm::write_segmentation_model(source).is_ok());
  tensorflow::SavedModel model;
  ASSERT_TRUE(model.ParseFromString(quarrow::models::testing::read_file(source + "/saved_model.pb")));
  (*(*model.mutable_meta_graphs(0)->mutable_signature_def())["serving_default"].mutable_outputs())["output_0"]
      .set_name("serving_default_input:0");
  std::ofstream(source + "/saved_model.pb", std::ios::binary | std::ios::trunc) << model.SerializeAsString();
  const Result r = run_tool("adapt " + source + " " + fresh("out_tf1") + " --role sky");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "quarrow-models: adapt: output 'output_0' comes from the Placeholder node 'serving_default_input' of "
            "the outer graph, not from a function call; adapt wraps TensorFlow 2 exports\n");
}

TEST(Adapt, ResultThatDoesNotRunHereIsReported) {
  // The source is fine for a real TensorFlow but needs an op this runtime lacks.
  const std::string source = fresh("unknown_op_source");
  ASSERT_TRUE(qsm::write_foreign_model(source).is_ok());
  tensorflow::SavedModel model;
  ASSERT_TRUE(model.ParseFromString(quarrow::models::testing::read_file(source + "/saved_model.pb")));
  for (auto& f : *model.mutable_meta_graphs(0)->mutable_graph_def()->mutable_library()->mutable_function()) {
    for (auto& n : *f.mutable_node_def()) {
      if (n.name() == "bias") n.set_op("QtfTestBiasAdd");
    }
  }
  std::ofstream(source + "/saved_model.pb", std::ios::binary | std::ios::trunc) << model.SerializeAsString();
  const std::string adapted = fresh("unknown_op_adapted");
  const Result r = run_tool("adapt " + source + " " + adapted + " --role sky --score softmax:1");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("quarrow-models: adapt: " + adapted + " was written but does not meet the sky contract: " +
                       adapted + ": load failed (code 12): unsupported ops: QtfTestBiasAdd (1, node 'bias' in "
                       "'__inference_signature_wrapper_100')"),
            std::string::npos)
      << r.err;
}

const std::string kFixtures = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels";

// Wraps a real export's serving call the way adapt does: the new input feeds
// the call where the old one did, every other call input is captured.
std::string wrap_real_export(const std::string& source, const std::string& call_name, const qsm::Shape& input_shape) {
  tensorflow::SavedModel model;
  EXPECT_TRUE(model.ParseFromString(quarrow::models::testing::read_file(source + "/saved_model.pb")));
  const tensorflow::MetaGraphDef& meta = model.meta_graphs(0);
  const tensorflow::NodeDef* call = nullptr;
  for (const auto& n : meta.graph_def().node()) {
    if (n.name() == call_name) call = &n;
  }
  EXPECT_NE(call, nullptr);
  if (call == nullptr) return "";
  qsm::ModelBuilder b;
  b.wrap(meta, source);
  qsm::Output x = b.input("input", TF_FLOAT, input_shape);
  std::vector<qsm::Output> args;
  const auto& tin = call->attr().at("Tin").list().type();
  for (int k = 0; k < tin.size(); ++k) {
    const std::string& in = call->input(k);
    args.push_back(in.rfind("serving_default_", 0) == 0 ? x : b.capture(in, static_cast<TF_DataType>(tin[k])));
  }
  qsm::Attrs attrs;
  for (const auto& [name, value] : call->attr()) attrs.emplace_back(name, value);
  b.output("output_0", b.op(call->op(), args, attrs, "source_call"));
  const std::string dir = fresh("wrapped_" + call_name);
  EXPECT_TRUE(b.save(dir).is_ok()) << b.status().message();
  return dir;
}

TEST(AdaptRealExports, WrappedKerasExportKeepsVariablesAssetsAndInit) {
  // Variables, an asset read by the init op, five more signatures, and the
  // serving output at StatefulPartitionedCall_5.
  const std::string source = kFixtures + "/half_plus_two_tf2";
  if (!std::filesystem::exists(source + "/saved_model.pb")) GTEST_SKIP() << "fixture absent";
  const std::string dir = wrap_real_export(source, "StatefulPartitionedCall_5", {1});
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(std::filesystem::exists(dir + "/assets/foo.txt"));
  for (const auto& [x, y] : std::vector<std::pair<float, float>>{{1.0f, 2.5f}, {-4.0f, 0.0f}, {3.0f, 3.5f}}) {
    std::vector<int64_t> shape;
    EXPECT_EQ(run_once(dir, "serving_default_input:0", {1}, {x}, &shape), std::vector<float>{y}) << x;
  }
}

TEST(AdaptRealExports, WrappedOnnxTfExportMatchesOnnxRuntime) {
  const std::string source = kFixtures + "/onnxtf_mcunet_tf211";
  const std::string io = kFixtures + "/onnxtf_mcunet_tf211_io";
  if (!std::filesystem::exists(source + "/saved_model.pb")) GTEST_SKIP() << "fixture absent";
  const std::string dir = wrap_real_export(source, "PartitionedCall", {1, 3, 160, 160});
  ASSERT_FALSE(dir.empty());
  quarrow::models::NpyArray input, expected;
  std::string error;
  ASSERT_TRUE(quarrow::models::read_npy(io + "/input.npy", &input, &error)) << error;
  ASSERT_TRUE(quarrow::models::read_npy(io + "/expected_output_onnxruntime.npy", &expected, &error)) << error;
  std::vector<float> x(input.data.size() / 4), want(expected.data.size() / 4);
  std::memcpy(x.data(), input.data.data(), input.data.size());
  std::memcpy(want.data(), expected.data.data(), expected.data.size());
  std::vector<int64_t> shape;
  const std::vector<float> got = run_once(dir, "serving_default_input:0", {1, 3, 160, 160}, x, &shape);
  EXPECT_EQ(shape, (std::vector<int64_t>{1, 1000}));
  ASSERT_EQ(got.size(), want.size());
  double worst = 0;
  for (size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::fabs(double(got[k]) - want[k]));
  EXPECT_LE(worst, 1e-5);
  // adapt itself refuses it: a 160x160 classifier cannot meet the contract.
  const Result r = run_tool("adapt " + source + " " + fresh("mcunet_adapted") + " --role sky");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "quarrow-models: adapt: the source input [?,3,160,160] takes neither [1,256,512,3] (NHWC) nor "
            "[1,3,256,512] (NCHW): quarrow feeds 256x512 RGB images\n");
}

TEST(Adapt, BadArgumentsPrintUsage) {
  const std::string source = fresh("args_source");
  ASSERT_TRUE(qsm::write_foreign_model(source).is_ok());
  const std::string out = fresh("args_out");
  for (const std::string& args :
       {std::string("adapt"), "adapt " + source, "adapt " + source + " " + out,
        "adapt " + source + " " + out + " --role sea", "adapt " + source + " " + out + " --role sky --score relu",
        "adapt " + source + " " + out + " --role sky --score softmax",
        "adapt " + source + " " + out + " --role sky --input-layout chwn",
        "adapt " + source + " " + out + " --role sky --frobnicate 1", "adapt " + source + " " + out + " --role"}) {
    const Result r = run_tool(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
