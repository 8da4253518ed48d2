#include "analysis/process_image.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "loaded_model.h"
#include "test_folder.h"
#include "test_models.h"

namespace quarrow {
namespace {

// A data folder with images/, segm/ and depthmap/, and the four default test
// models: sky score = blue channel, ground score = green, depth = red (all as
// normalised network input).
class ProcessImageTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"images", "segm", "depthmap", "models"}) {
      std::filesystem::create_directories(folder_.file(sub));
    }
    ASSERT_TRUE(qsm::write_model_folder(folder_.file("models")).is_ok());
    sky_ = std::make_unique<LoadedModel>(folder_.file("models/sky_segm_model"));
    ground_ = std::make_unique<LoadedModel>(folder_.file("models/ground_segm_model"));
    indoor_ = std::make_unique<LoadedModel>(folder_.file("models/indoor_depth_model"));
    outdoor_ = std::make_unique<LoadedModel>(folder_.file("models/outdoor_depth_model"));
    for (LoadedModel* m : {sky_.get(), ground_.get(), indoor_.get(), outdoor_.get()}) {
      ASSERT_TRUE(m->loaded());
    }
    record_.uuid = "pano01";
    record_.file_name = "pano01.png";
    record_.sky_ratio = 12.5f;
    record_.is_outdoor = false;
  }

  // Rendered texts, as the image loop forms them.
  std::string image_path() const { return folder_.path() + "\\images\\pano01.png"; }
  std::string segm_folder() const { return folder_.path() + "\\segm\\"; }
  std::string depthmap_folder() const { return folder_.path() + "\\depthmap\\"; }

  void write_image(const cv::Mat& bgr) const {
    ASSERT_TRUE(cv::imwrite(folder_.file("images/pano01.png"), bgr));
  }

  struct Outcome {
    bool result;
    std::string out;
    std::string err;
  };
  Outcome process(const std::string& segm, const std::string& depthmap) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool result = process_image(record_, image_path(), sky_->handles(), ground_->handles(),
                                      indoor_->handles(), outdoor_->handles(), segm, depthmap);
    Outcome o{result, testing::internal::GetCapturedStdout(), ""};
    o.err = testing::internal::GetCapturedStderr();
    return o;
  }
  Outcome process() { return process(segm_folder(), depthmap_folder()); }

  std::vector<float> read_depth_file() const {
    std::ifstream in(folder_.file("depthmap/pano01.bin"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);  // the host is little-endian
    EXPECT_EQ(bytes.size(), 524288u);
    return values;
  }

  cv::Mat read_mask_file() const {
    return cv::imread(folder_.file("segm/pano01_sky_segm.png"), cv::IMREAD_UNCHANGED);
  }

  TestFolder folder_;
  std::unique_ptr<LoadedModel> sky_, ground_, indoor_, outdoor_;
  ImageRecord record_;
};

// Blue sky over a red ground: sky in rows 0-127 of the working image.
cv::Mat sky_over_ground() {
  cv::Mat image(1024, 2048, CV_8UC3, cv::Scalar(0, 0, 255));
  image.rowRange(0, 512).setTo(cv::Scalar(255, 0, 0));
  return image;
}

constexpr float kRedOfRed = 2.2489083f;     // red channel of a red pixel
constexpr float kRedOfBlack = -2.1179039f;  // red channel of a blue or black pixel

TEST_F(ProcessImageTest, OutdoorImage) {
  write_image(sky_over_ground());
  const Outcome o = process();
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.out, "ground ratio: 0%\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(record_.sky_ratio, 100.0f);
  EXPECT_TRUE(record_.is_outdoor);

  const cv::Mat mask = read_mask_file();
  ASSERT_EQ(mask.type(), CV_8UC1);
  ASSERT_EQ(mask.size(), cv::Size(512, 256));
  EXPECT_EQ(cv::countNonZero(mask.rowRange(0, 133) == 255), 133 * 512);  // grown by 5 rows
  EXPECT_EQ(cv::countNonZero(mask.rowRange(133, 256)), 0);

  const std::vector<float> depth = read_depth_file();
  ASSERT_EQ(depth.size(), 131072u);
  auto at = [&](int r, int c) { return depth[r * 512 + c]; };
  EXPECT_EQ(at(0, 0), 0.0f);
  EXPECT_TRUE(std::signbit(at(0, 0)));     // negative depth trimmed to -0.0
  EXPECT_TRUE(std::signbit(at(127, 300)));
  EXPECT_EQ(at(128, 0), 0.0f);              // positive but within 5 rows of the edge
  EXPECT_FALSE(std::signbit(at(132, 0)));
  EXPECT_EQ(at(132, 511), 0.0f);
  EXPECT_FLOAT_EQ(at(133, 0), kRedOfRed);
  EXPECT_FLOAT_EQ(at(239, 511), kRedOfRed);
  EXPECT_NEAR(at(255, 7), kRedOfRed * 0.999803f, 1e-6);  // bottom band, k = 1
}

TEST_F(ProcessImageTest, IndoorImage) {
  write_image(cv::Mat(1024, 2048, CV_8UC3, cv::Scalar(0, 0, 0)));
  const Outcome o = process();
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(record_.sky_ratio, 0.0f);
  EXPECT_FALSE(record_.is_outdoor);
  EXPECT_EQ(cv::countNonZero(read_mask_file()), 0);

  const std::vector<float> depth = read_depth_file();
  ASSERT_EQ(depth.size(), 131072u);
  EXPECT_EQ(depth[16 * 512], kRedOfBlack);  // untrimmed, negative kept
  EXPECT_EQ(depth[239 * 512 + 511], kRedOfBlack);
  EXPECT_NEAR(depth[0], kRedOfBlack * 0.999803f, 1e-6);        // top band, k = 1
  EXPECT_NEAR(depth[255 * 512], kRedOfBlack * 0.999803f, 1e-6);  // bottom band, k = 1
}

TEST_F(ProcessImageTest, SkippedSkyRunGivesNoSky) {
  TF_SetStatus(sky_->status(), TF_INTERNAL, "an earlier run failed");
  write_image(sky_over_ground());
  const Outcome o = process();
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.out, "TF_Error:13\n");
  EXPECT_EQ(record_.sky_ratio, 0.0f);
  EXPECT_FALSE(record_.is_outdoor);
  EXPECT_EQ(cv::countNonZero(read_mask_file()), 0);
}

TEST_F(ProcessImageTest, UndecodableFileIsReportedAndSkipped) {
  std::ofstream(folder_.file("images/pano01.png")) << "not a picture";
  const Outcome o = process();
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "Error: file " + image_path() + " can't be decoded\n");
  EXPECT_EQ(record_.sky_ratio, 12.5f);
  EXPECT_FALSE(record_.is_outdoor);
  EXPECT_TRUE(std::filesystem::is_empty(folder_.file("segm")));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.file("depthmap")));
}

TEST_F(ProcessImageTest, UnwritableOutputsAreReportedAndProcessingGoesOn) {
  write_image(sky_over_ground());
  const std::string missing = folder_.path() + "\\missing";
  const Outcome mask_fails = process(missing, depthmap_folder());
  EXPECT_FALSE(mask_fails.result);
  EXPECT_EQ(mask_fails.err,
            "Error: file " + missing + "\\pano01_sky_segm.png can't be written\n");
  EXPECT_EQ(mask_fails.out, "ground ratio: 0%\n");
  EXPECT_EQ(record_.sky_ratio, 100.0f);
  EXPECT_EQ(read_depth_file().size(), 131072u);

  const Outcome depth_fails = process(segm_folder(), missing);
  EXPECT_FALSE(depth_fails.result);
  EXPECT_EQ(depth_fails.err, "Error: file " + missing + "\\pano01.bin can't be written\n");
  EXPECT_EQ(read_mask_file().size(), cv::Size(512, 256));
}

}  // namespace
}  // namespace quarrow
