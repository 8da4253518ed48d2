#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "inference/depth_runners.h"
#include "inference/ground_segmentation.h"
#include "inference/sky_segmentation.h"
#include "loaded_model.h"
#include "savedmodel_writer.h"
#include "test_models.h"

namespace quarrow {
namespace {

constexpr int kRows = 256;
constexpr int kCols = 512;

// Models written once for the whole suite: every score and depth is channel 0
// of the input, so each test sets the model output through the image it feeds.
class ModelRunnersTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                        ("quarrow_runners_" + std::to_string(::getpid())));
    std::filesystem::create_directories(*folder_);
    ASSERT_TRUE(qsm::write_segmentation_model(model("segmentation")).is_ok());
    ASSERT_TRUE(qsm::write_depth_model(model("depth")).is_ok());
    ASSERT_TRUE(qsm::write_failing_model(model("failing_input"), "input").is_ok());
    ASSERT_TRUE(qsm::write_failing_model(model("failing_inputs"), "inputs").is_ok());
    ASSERT_TRUE(qsm::write_model_without_contract_input(model("no_contract_input")).is_ok());
    write_odd_output_models();
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*folder_);
    delete folder_;
  }

  // Two models that break the output contract: half the rows, and int32 values.
  static void write_odd_output_models() {
    {
      qsm::ModelBuilder b;
      qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
      qsm::Output begin = b.constant(qsm::TensorValue::int32s({4}, {0, 0, 0, 0}));
      qsm::Output size = b.constant(qsm::TensorValue::int32s({4}, {1, 128, -1, 1}));
      b.output("output_0", b.op("Slice", {x, begin, size}));
      ASSERT_TRUE(b.save(model("short_output")).is_ok());
    }
    {
      qsm::ModelBuilder b;
      qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
      qsm::Output begin = b.constant(qsm::TensorValue::int32s({4}, {0, 0, 0, 0}));
      qsm::Output size = b.constant(qsm::TensorValue::int32s({4}, {-1, -1, -1, 1}));
      qsm::Output channel = b.op("Slice", {x, begin, size});
      b.output("output_0", b.op("Cast", {channel}, {{"DstT", qsm::type(TF_INT32)}}));
      ASSERT_TRUE(b.save(model("int_output")).is_ok());
    }
  }

  static std::string model(const std::string& name) { return (*folder_ / name).string(); }

  static std::unique_ptr<LoadedModel> open(const std::string& name) {
    auto loaded = std::make_unique<LoadedModel>(model(name));
    EXPECT_TRUE(loaded->loaded()) << name << ": " << TF_Message(loaded->status());
    return loaded;
  }

  // A network input whose channel 0 is `value` everywhere; channels 1 and 2 hold noise.
  static cv::Mat input_filled(float value, int rows = kRows, int cols = kCols) {
    cv::Mat input(rows, cols, CV_32FC3);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) input.at<cv::Vec3f>(r, c) = {value, 0.1f * r, -0.01f * c};
    }
    return input;
  }

  static void expect_same_bits(const cv::Mat& a, const cv::Mat& b) {
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.type(), b.type());
    for (int r = 0; r < a.rows; ++r) {
      ASSERT_EQ(std::memcmp(a.ptr(r), b.ptr(r), a.cols * a.elemSize()), 0) << "row " << r;
    }
  }

  static std::filesystem::path* folder_;
};

std::filesystem::path* ModelRunnersTest::folder_ = nullptr;

TEST_F(ModelRunnersTest, SkyScoresAreThresholdedStrictly) {
  auto sky = open("segmentation");
  struct Case {
    float score;
    std::uint8_t mask;
  };
  const Case cases[] = {{0.5f, 0},
                        {0.5000001f, 1},
                        {0.4999999f, 0},
                        {2.0f, 1},
                        {-3.0f, 0},
                        {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.score);
    const cv::Mat input = input_filled(c.score);
    cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_sky_segmentation(sky->session(), sky->graph(), sky->status(), input, mask));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cv::countNonZero(mask == c.mask), kRows * kCols);
  }
}

TEST_F(ModelRunnersTest, SkyMaskFollowsScoresPixelByPixel) {
  auto sky = open("segmentation");
  cv::Mat input = input_filled(0.0f);
  input.at<cv::Vec3f>(0, 0)[0] = 1.0f;
  input.at<cv::Vec3f>(17, 300)[0] = 0.75f;
  input.at<cv::Vec3f>(255, 511)[0] = 0.51f;
  cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
  run_sky_segmentation(sky->session(), sky->graph(), sky->status(), input, mask);
  EXPECT_EQ(cv::countNonZero(mask), 3);
  EXPECT_EQ(mask.at<std::uint8_t>(0, 0), 1);
  EXPECT_EQ(mask.at<std::uint8_t>(17, 300), 1);
  EXPECT_EQ(mask.at<std::uint8_t>(255, 511), 1);
}

TEST_F(ModelRunnersTest, SkyMaskWithWiderRowStepKeepsBytesOutside) {
  auto sky = open("segmentation");
  const cv::Mat input = input_filled(1.0f);
  cv::Mat wide(kRows + 4, kCols + 40, CV_8UC1, cv::Scalar(77));
  cv::Mat region = wide(cv::Rect(0, 0, kCols, kRows));
  run_sky_segmentation(sky->session(), sky->graph(), sky->status(), input, region);
  EXPECT_EQ(cv::countNonZero(region == 1), kRows * kCols);
  EXPECT_EQ(cv::countNonZero(wide(cv::Rect(kCols, 0, 40, kRows + 4)) == 77), 40 * (kRows + 4));
  EXPECT_EQ(cv::countNonZero(wide(cv::Rect(0, kRows, kCols, 4)) == 77), 4 * kCols);
}

TEST_F(ModelRunnersTest, SkyRunnerTakesTheInputSize) {
  auto sky = open("segmentation");
  cv::Mat input = input_filled(0.0f, 64, 128);
  input.at<cv::Vec3f>(63, 127)[0] = 1.0f;
  cv::Mat mask(64, 128, CV_8UC1, cv::Scalar(9));
  EXPECT_FALSE(run_sky_segmentation(sky->session(), sky->graph(), sky->status(), input, mask));
  EXPECT_EQ(cv::countNonZero(mask), 1);
  EXPECT_EQ(mask.at<std::uint8_t>(63, 127), 1);
}

TEST_F(ModelRunnersTest, GroundRatioLineAndMask) {
  auto ground = open("segmentation");
  struct Case {
    int ground_rows;  // rows 0 .. ground_rows - 1 are ground
    const char* line;
    float ratio;
  };
  const Case cases[] = {{0, "ground ratio: 0%\n", 0.0f},
                        {109, "ground ratio: 42.5781%\n", 42.578125f},  // 55808 hits
                        {256, "ground ratio: 100%\n", 100.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ground_rows);
    cv::Mat input = input_filled(0.5f);  // 0.5 itself does not count
    for (int r = 0; r < c.ground_rows; ++r) {
      for (int col = 0; col < kCols; ++col) input.at<cv::Vec3f>(r, col)[0] = 0.9f;
    }
    cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
    testing::internal::CaptureStdout();
    const float ratio =
        run_ground_segmentation(ground->session(), ground->graph(), ground->status(), input, mask);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(ratio, c.ratio);
    const int mask_rows = std::min(c.ground_rows, 224);
    if (mask_rows > 0) {
      EXPECT_EQ(cv::countNonZero(mask.rowRange(0, mask_rows) == 1), mask_rows * kCols);
    }
    if (mask_rows < 224) {
      EXPECT_EQ(cv::countNonZero(mask.rowRange(mask_rows, 224)), 0);
    }
    EXPECT_EQ(cv::countNonZero(mask.rowRange(224, 256) == 1), 32 * kCols);
  }
}

TEST_F(ModelRunnersTest, GroundInBottomRowsStillCounts) {
  auto ground = open("segmentation");
  cv::Mat input = input_filled(0.0f);
  input.rowRange(224, 256).forEach<cv::Vec3f>([](cv::Vec3f& p, const int*) { p[0] = 1.0f; });
  cv::Mat mask(kRows + 2, kCols + 2, CV_8UC1, cv::Scalar(9));
  testing::internal::CaptureStdout();
  const float ratio =
      run_ground_segmentation(ground->session(), ground->graph(), ground->status(), input, mask);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ground ratio: 12.5%\n");
  EXPECT_EQ(ratio, 12.5f);
  EXPECT_EQ(cv::countNonZero(mask(cv::Rect(0, 0, kCols, kRows))), 32 * kCols);
  // Outside the 256 x 512 area nothing is written.
  EXPECT_EQ(cv::countNonZero(mask.col(kCols) == 9), kRows + 2);
  EXPECT_EQ(cv::countNonZero(mask.row(kRows + 1) == 9), kCols + 2);
}

TEST_F(ModelRunnersTest, GroundSkippedCallReturnsOne) {
  auto ground = open("segmentation");
  TF_SetStatus(ground->status(), TF_INTERNAL, "an earlier run failed");
  const cv::Mat input = input_filled(1.0f);
  cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
  testing::internal::CaptureStdout();
  EXPECT_EQ(run_ground_segmentation(ground->session(), ground->graph(), ground->status(), input,
                                    mask),
            1.0f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TF_Error:13\n");
  EXPECT_EQ(cv::countNonZero(mask == 9), kRows * kCols);
}

TEST_F(ModelRunnersTest, IndoorDepthWritesRows16To239Only) {
  auto depth = open("depth");
  cv::Mat input = input_filled(0.0f);
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) input.at<cv::Vec3f>(r, c)[0] = 1.0f + r + 0.001f * c;
  }
  cv::Mat map = cv::Mat::zeros(kRows, kCols, CV_32FC1);
  EXPECT_FALSE(run_indoor_depth(depth->session(), depth->graph(), depth->status(), input, map));
  EXPECT_EQ(cv::countNonZero(map.rowRange(0, 16)), 0);
  EXPECT_EQ(cv::countNonZero(map.rowRange(240, 256)), 0);
  cv::Mat channels[3];
  cv::split(input, channels);
  expect_same_bits(map.rowRange(16, 240), channels[0].rowRange(16, 240));
}

TEST_F(ModelRunnersTest, OutdoorDepthCopiesEveryValueBitForBit) {
  auto depth = open("depth");
  cv::Mat input = input_filled(0.0f);
  for (int r = 0; r < kRows; ++r) {
    for (int c = 0; c < kCols; ++c) input.at<cv::Vec3f>(r, c)[0] = (r - 100) * 0.5f + c;
  }
  input.at<cv::Vec3f>(0, 0)[0] = -0.0f;
  input.at<cv::Vec3f>(1, 0)[0] = std::numeric_limits<float>::quiet_NaN();
  input.at<cv::Vec3f>(2, 0)[0] = -std::numeric_limits<float>::infinity();
  input.at<cv::Vec3f>(255, 511)[0] = -7.25f;
  cv::Mat wide(kRows + 3, kCols + 5, CV_32FC1, cv::Scalar(4.5f));
  cv::Mat map = wide(cv::Rect(0, 0, kCols, kRows));
  EXPECT_FALSE(run_outdoor_depth(depth->session(), depth->graph(), depth->status(), input, map));
  cv::Mat channels[3];
  cv::split(input, channels);
  expect_same_bits(map, channels[0]);
  EXPECT_EQ(cv::countNonZero(wide(cv::Rect(kCols, 0, 5, kRows + 3)) == 4.5f), 5 * (kRows + 3));
  EXPECT_EQ(cv::countNonZero(wide(cv::Rect(0, kRows, kCols, 3)) == 4.5f), 3 * kCols);
}

TEST_F(ModelRunnersTest, InputIsLeftBitForBitUnchanged) {
  auto segmentation = open("segmentation");
  auto depth = open("depth");
  cv::Mat input(kRows, kCols, CV_32FC3);
  cv::randn(input, 0.0, 2.0);
  input.at<cv::Vec3f>(3, 4) = {std::numeric_limits<float>::quiet_NaN(), -0.0f, 1e-40f};
  const cv::Mat original = input.clone();
  cv::Mat mask(kRows, kCols, CV_8UC1);
  cv::Mat map = cv::Mat::zeros(kRows, kCols, CV_32FC1);
  testing::internal::CaptureStdout();
  run_sky_segmentation(segmentation->session(), segmentation->graph(), segmentation->status(),
                       input, mask);
  expect_same_bits(input, original);
  run_ground_segmentation(segmentation->session(), segmentation->graph(), segmentation->status(),
                          input, mask);
  expect_same_bits(input, original);
  run_indoor_depth(depth->session(), depth->graph(), depth->status(), input, map);
  expect_same_bits(input, original);
  run_outdoor_depth(depth->session(), depth->graph(), depth->status(), input, map);
  expect_same_bits(input, original);
  testing::internal::GetCapturedStdout();
}

TEST_F(ModelRunnersTest, FailedRunIsReportedOnEveryLaterCall) {
  struct Case {
    const char* model;
    bool depth;
  };
  for (const Case& c : {Case{"failing_input", false}, Case{"failing_inputs", true}}) {
    SCOPED_TRACE(c.model);
    auto failing = open(c.model);
    const cv::Mat input = input_filled(1.0f);
    cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
    cv::Mat map(kRows, kCols, CV_32FC1, cv::Scalar(2.0f));
    auto run = [&]() {
      return c.depth ? run_outdoor_depth(failing->session(), failing->graph(), failing->status(),
                                         input, map)
                     : run_sky_segmentation(failing->session(), failing->graph(),
                                            failing->status(), input, mask);
    };

    // The failing run itself prints nothing; its code stays in the status.
    testing::internal::CaptureStdout();
    EXPECT_TRUE(run());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const TF_Code code = failing->code();
    ASSERT_NE(code, TF_OK);

    for (int call = 0; call < 2; ++call) {
      testing::internal::CaptureStdout();
      EXPECT_TRUE(run());
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                "TF_Error:" + std::to_string(static_cast<int>(code)) + "\n");
      EXPECT_EQ(failing->code(), code);
    }
    EXPECT_EQ(cv::countNonZero(mask == 9), kRows * kCols);
    EXPECT_EQ(cv::countNonZero(map == 2.0f), kRows * kCols);
  }
}

TEST_F(ModelRunnersTest, MissingInputOperationIsNotFound) {
  auto model_without_input = open("no_contract_input");
  const cv::Mat input = input_filled(1.0f);
  cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(run_sky_segmentation(model_without_input->session(), model_without_input->graph(),
                                   model_without_input->status(), input, mask));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(model_without_input->code(), TF_NOT_FOUND);

  testing::internal::CaptureStdout();
  EXPECT_TRUE(run_sky_segmentation(model_without_input->session(), model_without_input->graph(),
                                   model_without_input->status(), input, mask));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "TF_Error:5\n");
  EXPECT_EQ(cv::countNonZero(mask == 9), kRows * kCols);

  // A depth runner on a segmentation model: "serving_default_inputs" is missing.
  auto segmentation = open("segmentation");
  cv::Mat map(kRows, kCols, CV_32FC1, cv::Scalar(2.0f));
  EXPECT_TRUE(run_indoor_depth(segmentation->session(), segmentation->graph(),
                               segmentation->status(), input, map));
  EXPECT_EQ(segmentation->code(), TF_NOT_FOUND);
  EXPECT_EQ(cv::countNonZero(map == 2.0f), kRows * kCols);
}

TEST_F(ModelRunnersTest, OutputThatBreaksTheContractIsInvalidArgument) {
  for (const char* name : {"short_output", "int_output"}) {
    SCOPED_TRACE(name);
    auto odd = open(name);
    const cv::Mat input = input_filled(1.0f);
    cv::Mat mask(kRows, kCols, CV_8UC1, cv::Scalar(9));
    testing::internal::CaptureStdout();
    EXPECT_EQ(run_ground_segmentation(odd->session(), odd->graph(), odd->status(), input, mask),
              1.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(odd->code(), TF_INVALID_ARGUMENT);
    EXPECT_EQ(cv::countNonZero(mask == 9), kRows * kCols);

    testing::internal::CaptureStdout();
    run_ground_segmentation(odd->session(), odd->graph(), odd->status(), input, mask);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "TF_Error:3\n");
  }
}

TEST_F(ModelRunnersTest, MatricesThatDoNotFitAreRejectedBeforeTheRun) {
  struct Case {
    const char* what;
    cv::Mat input;
    cv::Mat map;
  };
  const Case cases[] = {
      {"small input", input_filled(1.0f, 128, 256), cv::Mat(kRows, kCols, CV_32FC1, cv::Scalar(2.0f))},
      {"grey input", cv::Mat(kRows, kCols, CV_32FC1, cv::Scalar(1.0f)),
       cv::Mat(kRows, kCols, CV_32FC1, cv::Scalar(2.0f))},
      {"small map", input_filled(1.0f), cv::Mat(100, 100, CV_32FC1, cv::Scalar(2.0f))},
      {"double map", input_filled(1.0f), cv::Mat(kRows, kCols, CV_64FC1, cv::Scalar(2.0))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto depth = open("depth");
    cv::Mat map = c.map;
    const cv::Mat before = map.clone();
    EXPECT_TRUE(run_outdoor_depth(depth->session(), depth->graph(), depth->status(), c.input, map));
    EXPECT_EQ(depth->code(), TF_INVALID_ARGUMENT);
    EXPECT_EQ(cv::norm(map, before, cv::NORM_INF), 0.0);
  }
}

}  // namespace
}  // namespace quarrow
