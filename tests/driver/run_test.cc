// Whole runs of the quarrow program on temporary data folders, with test
// models whose outputs are chosen input channels: sky = blue, ground = green,
// both depths = red (after the program's normalisation of each channel).
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "process_runner.h"
#include "test_models.h"

namespace quarrow::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 512;
constexpr int kHeight = 256;
constexpr std::size_t kDepthBytes = kWidth * kHeight * sizeof(float);

// A uniform panorama of one RGB colour, PNG-encoded so that it decodes
// exactly; the program decodes by content, whatever the file name says.
std::string panorama_bytes(int red, int green, int blue) {
  cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar(blue, green, red));
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(cv::imencode(".png", image, bytes));
  return std::string(bytes.begin(), bytes.end());
}

// The network input value of an 8-bit red value, as the program computes it.
float normalised_red(int value) {
  const float scaled = static_cast<float>(value * (1.0 / 255.0));
  return (scaled - 0.485f) / 0.229f;
}

// Sky everywhere (blue 255), no ground (green 0), depth from red 200.
const int kOutdoorNoGround[] = {200, 0, 255};
// Sky and ground everywhere.
const int kOutdoorAllGround[] = {200, 255, 255};
// No sky: indoor, depth from red 100 (negative after normalisation).
const int kIndoor[] = {100, 0, 0};

struct Record {
  std::string uuid;
  int id;
  bool is_outdoor;
  std::string sky_ratio;  // as written
  bool is_main;
};

std::string written_records(const std::vector<Record>& records) {
  std::string text = "{\n    \"images\": [";
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    text += i == 0 ? "\n" : ",\n";
    text += "        {\n            \"uuid\": \"" + r.uuid + "\",\n            \"id\": " +
            std::to_string(r.id) + ",\n            \"is_outdoor\": " +
            (r.is_outdoor ? "true" : "false") + ",\n            \"sky_ratio\": " + r.sky_ratio +
            ",\n            \"is_main\": " + (r.is_main ? "true" : "false") + "\n        }";
  }
  text += records.empty() ? "]\n}" : "\n    ]\n}";
  return text;
}

class RunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    models_ = std::make_unique<TempDir>();
    const std::string root = models_->path();
    ASSERT_TRUE(qsm::write_model_folder(root + "/good").is_ok());

    for (const char* name : {"no_ground", "no_sky", "empty_sky", "failing_sky", "failing_ground"}) {
      ASSERT_TRUE(qsm::write_model_folder(root + "/" + name).is_ok());
    }
    fs::remove_all(root + "/no_ground/ground_segm_model");
    fs::remove_all(root + "/no_sky/sky_segm_model");
    fs::remove_all(root + "/empty_sky/sky_segm_model");
    fs::create_directory(root + "/empty_sky/sky_segm_model");
    fs::remove_all(root + "/failing_sky/sky_segm_model");
    ASSERT_TRUE(qsm::write_failing_model(root + "/failing_sky/sky_segm_model").is_ok());
    fs::remove_all(root + "/failing_ground/ground_segm_model");
    ASSERT_TRUE(qsm::write_failing_model(root + "/failing_ground/ground_segm_model").is_ok());
  }
  static void TearDownTestSuite() { models_.reset(); }

  static std::string models(const std::string& name) { return models_->path() + "/" + name; }

  void SetUp() override {
    data_ = tmp_.path() + "/data";
    caches_ = data_ + "/caches";
    fs::create_directories(caches_ + "/images");
  }

  void set_records(const std::string& json) { write_file(caches_ + "/images.json", json); }

  void add_image(const std::string& uuid, const int (&rgb)[3]) {
    write_file(caches_ + "/images/" + uuid + ".jpg", panorama_bytes(rgb[0], rgb[1], rgb[2]));
  }

  ProcessResult run(const std::string& model_folder) {
    return run_process(QUARROW_BINARY, {model_folder, data_});
  }

  std::string outdoor_flag() const { return read_file(caches_ + "/outdoor_flag.json"); }
  bool has_outdoor_flag() const { return fs::exists(caches_ + "/outdoor_flag.json"); }
  std::string mask_path(const std::string& uuid) const {
    return caches_ + "/segm/" + uuid + "_sky_segm.png";
  }
  std::string depth_path(const std::string& uuid) const {
    return caches_ + "/depthmap/" + uuid + ".bin";
  }
  std::size_t output_file_count() const {
    std::size_t count = 0;
    for (const char* folder : {"/segm", "/depthmap"}) {
      if (!fs::is_directory(caches_ + folder)) continue;
      for ([[maybe_unused]] const auto& entry : fs::directory_iterator(caches_ + folder)) ++count;
    }
    return count;
  }

  // The sky mask file: 8-bit single channel at the working size, every pixel
  // 255 (sky) or every pixel 0.
  void expect_mask(const std::string& uuid, bool all_sky) {
    const cv::Mat mask = cv::imread(mask_path(uuid), cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(mask.empty()) << mask_path(uuid);
    EXPECT_EQ(mask.type(), CV_8UC1);
    ASSERT_EQ(mask.size(), cv::Size(kWidth, kHeight));
    EXPECT_EQ(cv::countNonZero(mask), all_sky ? kWidth * kHeight : 0) << uuid;
    if (all_sky) {
      EXPECT_EQ(cv::countNonZero(mask == 255), kWidth * kHeight) << uuid;
    }
  }

  // The depth file: 512 x 256 floats, every value within the band finishing's
  // cosine ratio (at most 0.02 % off) of the model's uniform output.
  void expect_depth(const std::string& uuid, float depth) {
    const std::string bytes = read_file(depth_path(uuid));
    ASSERT_EQ(bytes.size(), kDepthBytes) << depth_path(uuid);
    std::vector<float> values(kWidth * kHeight);
    std::memcpy(values.data(), bytes.data(), kDepthBytes);
    std::size_t off = 0;
    for (float value : values) {
      if (!(std::fabs(value - depth) <= 2.5e-4f * std::fabs(depth))) ++off;
    }
    EXPECT_EQ(off, 0u) << uuid << ": values away from " << depth;
  }

  static std::unique_ptr<TempDir> models_;
  TempDir tmp_;
  std::string data_;
  std::string caches_;
};

std::unique_ptr<TempDir> RunTest::models_;

const char kOneMainRecord[] = R"({"images": [{"uuid": "p1", "id": 1, "is_main": true}]})";

TEST_F(RunTest, ModelLoadFailures) {
  for (const char* folder : {"no_ground", "no_sky", "empty_sky", "nonexistent"}) {
    SCOPED_TRACE(folder);
    set_records(kOneMainRecord);
    add_image("p1", kOutdoorNoGround);
    const ProcessResult result = run(models(folder));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: loading saved_model failed.\n");
    EXPECT_FALSE(has_outdoor_flag());
    EXPECT_EQ(output_file_count(), 0u);
  }
}

TEST_F(RunTest, EmptyRecordListAfterModelsLoaded) {
  set_records(R"({"images": []})");
  ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error: no images found by parsing images.json\n");
  EXPECT_FALSE(has_outdoor_flag());

  // The models are loaded first: a broken model wins over the empty list.
  result = run(models("no_ground"));
  EXPECT_EQ(result.err, "Error: loading saved_model failed.\n");
}

TEST_F(RunTest, NoMainRecordsCopiesRecordsUnchanged) {
  set_records(R"({"images": [
      {"uuid": "p1", "id": 1, "is_main": false, "is_outdoor": true, "sky_ratio": 12.5},
      {"uuid": "p2", "id": 2, "is_main": false}]})");
  add_image("p1", kOutdoorNoGround);
  add_image("p2", kIndoor);
  const ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 1, true, "12.5", false},
                                             {"p2", 2, false, "0.0", false}}));
  EXPECT_EQ(output_file_count(), 0u);
}

TEST_F(RunTest, RecordsProcessedInStoredOrder) {
  const std::string records = R"({"images": [
      {"uuid": "p1", "id": 10, "is_main": true},
      {"uuid": "gone", "id": 11, "is_main": true, "is_outdoor": true, "sky_ratio": 7},
      {"uuid": "p2", "id": 12, "is_main": true, "is_outdoor": false, "sky_ratio": 3.5},
      {"uuid": "p3", "id": 13, "is_main": true},
      {"uuid": "side", "id": 14, "is_main": false}]})";
  set_records(records);
  add_image("p1", kOutdoorNoGround);
  add_image("p2", kOutdoorAllGround);
  add_image("p3", kIndoor);
  add_image("side", kOutdoorAllGround);
  const ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  // The ground ratio lines come in record order.
  EXPECT_EQ(result.out, "ground ratio: 0%\nground ratio: 100%\n");
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 10, true, "100.0", true},
                                             {"gone", 11, true, "7.0", true},
                                             {"p2", 12, true, "100.0", true},
                                             {"p3", 13, false, "0.0", true},
                                             {"side", 14, false, "0.0", false}}));
  expect_mask("p1", true);
  expect_mask("p2", true);
  expect_mask("p3", false);
  expect_depth("p1", normalised_red(kOutdoorNoGround[0]));
  expect_depth("p2", normalised_red(kOutdoorAllGround[0]));
  expect_depth("p3", normalised_red(kIndoor[0]));
  EXPECT_EQ(output_file_count(), 6u);  // nothing for "gone" and "side"
  EXPECT_EQ(read_file(caches_ + "/images.json"), records);  // never written
}

// Networks as PyTorch (via ONNX and onnx-tf) and Keras export them, brought
// to the contract by `quarrow-models adapt`, compute what the contract's own
// test models compute: sky = softmax class 1 of NCHW logits whose class 1 is
// blue, ground = sigmoid of an NHWC green logit at StatefulPartitionedCall_1,
// indoor depth = red as NHWC [1,256,512,1] chosen among two outputs, outdoor
// depth = red from an NCHW net at PartitionedCall:0 whose signature leaves
// the shape open. The run's files must equal those of the reference models.
TEST_F(RunTest, AdaptedForeignModelsRunLikeTheContractModels) {
  const std::string sources = tmp_.path() + "/sources";
  const std::string adapted = tmp_.path() + "/adapted";
  qsm::ForeignModelSpec sky;  // class 1 = blue, class 0 = 0
  qsm::ForeignModelSpec ground;
  ground.nchw_input = ground.nchw_output = false;
  ground.channels = 1;
  ground.weights = {0, 1, 0};
  ground.bias = {0};
  ground.input_name = "input_layer";
  ground.call_name = "StatefulPartitionedCall_1";
  qsm::ForeignModelSpec indoor = ground;
  indoor.weights = {1, 0, 0};
  indoor.call_name = "StatefulPartitionedCall";
  indoor.output_name = "depth";
  indoor.second_output = true;
  qsm::ForeignModelSpec outdoor;
  outdoor.channels = 1;
  outdoor.weights = {1, 0, 0};
  outdoor.bias = {0};
  outdoor.input_name = "input";
  outdoor.output_name = "output";
  outdoor.output_shape_known = false;
  outdoor.call_name = "PartitionedCall";
  const struct {
    const char* folder;
    const qsm::ForeignModelSpec* form;
    std::vector<std::string> options;
  } models_to_adapt[] = {
      {"sky_segm_model", &sky, {"--role", "sky", "--input-layout", "nchw", "--score", "softmax:1"}},
      {"ground_segm_model", &ground, {"--role", "ground", "--score", "sigmoid"}},
      {"indoor_depth_model", &indoor, {"--role", "indoor_depth", "--output", "depth"}},
      {"outdoor_depth_model", &outdoor, {"--role", "outdoor_depth"}},
  };
  for (const auto& m : models_to_adapt) {
    const std::string source = sources + "/" + m.folder;
    ASSERT_TRUE(qsm::write_foreign_model(source, *m.form).is_ok()) << m.folder;
    std::vector<std::string> args{"adapt", source, adapted + "/" + m.folder};
    args.insert(args.end(), m.options.begin(), m.options.end());
    const ProcessResult a = run_process(QUARROW_MODELS_BIN, args);
    ASSERT_EQ(a.exit_code, 0) << m.folder << ": " << a.out << a.err;
  }
  const ProcessResult check = run_process(QUARROW_MODELS_BIN, {"check", adapted});
  ASSERT_EQ(check.exit_code, 0) << check.out << check.err;

  set_records(R"({"images": [
      {"uuid": "p1", "id": 10, "is_main": true},
      {"uuid": "p2", "id": 12, "is_main": true},
      {"uuid": "p3", "id": 13, "is_main": true}]})");
  add_image("p1", kOutdoorNoGround);
  add_image("p2", kOutdoorAllGround);
  add_image("p3", kIndoor);
  const ProcessResult reference = run(models("good"));
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  std::vector<std::string> reference_files;
  for (const char* uuid : {"p1", "p2", "p3"}) {
    reference_files.push_back(read_file(mask_path(uuid)));
    reference_files.push_back(read_file(depth_path(uuid)));
  }
  const std::string reference_flag = outdoor_flag();
  fs::remove_all(caches_ + "/segm");
  fs::remove_all(caches_ + "/depthmap");
  fs::remove(caches_ + "/outdoor_flag.json");

  const ProcessResult result = run(adapted);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "ground ratio: 0%\nground ratio: 100%\n");
  EXPECT_EQ(result.out, reference.out);
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 10, true, "100.0", true},
                                             {"p2", 12, true, "100.0", true},
                                             {"p3", 13, false, "0.0", true}}));
  EXPECT_EQ(outdoor_flag(), reference_flag);
  expect_mask("p1", true);
  expect_mask("p3", false);
  expect_depth("p1", normalised_red(kOutdoorNoGround[0]));
  expect_depth("p3", normalised_red(kIndoor[0]));
  size_t k = 0;
  for (const char* uuid : {"p1", "p2", "p3"}) {
    EXPECT_EQ(read_file(mask_path(uuid)), reference_files[k++]) << uuid;
    EXPECT_EQ(read_file(depth_path(uuid)), reference_files[k++]) << uuid;
  }
}

TEST_F(RunTest, RelativeFoldersWithBackslashes) {
  set_records(kOneMainRecord);
  add_image("p1", kIndoor);
  fs::create_directory_symlink(models("good"), tmp_.path() + "/m");
  const ProcessResult result =
      run_process(QUARROW_BINARY, {"m\\", ".\\data\\", "ignored"}, tmp_.path());
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 1, false, "0.0", true}}));
  expect_mask("p1", false);
  expect_depth("p1", normalised_red(kIndoor[0]));
}

TEST_F(RunTest, UndecodableImageIsReportedAndOthersStillRun) {
  set_records(R"({"images": [
      {"uuid": "bad", "id": 1, "is_main": true, "is_outdoor": true, "sky_ratio": 60},
      {"uuid": "p2", "id": 2, "is_main": true}]})");
  write_file(caches_ + "/images/bad.jpg", "not an image at all");
  add_image("p2", kOutdoorNoGround);
  const ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "ground ratio: 0%\n");
  EXPECT_EQ(result.err,
            "Error: file " + backslashed(caches_) + "\\images\\bad.jpg can't be decoded\n");
  EXPECT_EQ(outdoor_flag(), written_records({{"bad", 1, true, "60.0", true},
                                             {"p2", 2, true, "100.0", true}}));
  EXPECT_FALSE(fs::exists(mask_path("bad")));
  EXPECT_FALSE(fs::exists(depth_path("bad")));
  expect_mask("p2", true);
}

TEST_F(RunTest, ExistingOutdoorFlagIsReplaced) {
  set_records(kOneMainRecord);
  add_image("p1", kIndoor);
  write_file(caches_ + "/outdoor_flag.json", std::string(5000, '#'));
  const ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 1, false, "0.0", true}}));
}

TEST_F(RunTest, UnwritableOutdoorFlagFailsTheRun) {
  set_records(kOneMainRecord);
  add_image("p1", kIndoor);
  fs::create_directory(caches_ + "/outdoor_flag.json");
  const ProcessResult result = run(models("good"));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "Error: file " + backslashed(caches_) + "\\outdoor_flag.json can't be written\n");
  expect_mask("p1", false);  // the images were processed before the write
}

TEST_F(RunTest, FailedModelIsSkippedForLaterImages) {
  set_records(R"({"images": [
      {"uuid": "p1", "id": 1, "is_main": true},
      {"uuid": "p2", "id": 2, "is_main": true}]})");
  add_image("p1", kOutdoorNoGround);
  add_image("p2", kOutdoorAllGround);

  // The sky run of the first image fails; the second skips it and says so.
  // Without a sky mask both images count as indoor.
  ProcessResult result = run(models("failing_sky"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "TF_Error:3\n");
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 1, false, "0.0", true},
                                             {"p2", 2, false, "0.0", true}}));
  expect_mask("p1", false);
  expect_mask("p2", false);

  // A failing ground model prints no ratio; the depth still runs.
  result = run(models("failing_ground"));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "TF_Error:3\n");
  EXPECT_EQ(outdoor_flag(), written_records({{"p1", 1, true, "100.0", true},
                                             {"p2", 2, true, "100.0", true}}));
  expect_depth("p1", normalised_red(kOutdoorNoGround[0]));
  expect_depth("p2", normalised_red(kOutdoorAllGround[0]));
}

}  // namespace
}  // namespace quarrow::testing
