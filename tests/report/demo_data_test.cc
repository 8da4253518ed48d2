// Tests of the demo data tool: the tone-mapping operator, the record list it
// writes and the folder it fills.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "data/image_record.h"
#include "demo_set.h"
#include "report_fixture.h"
#include "tone_map.h"

namespace quarrow::demo {
namespace {
namespace fs = std::filesystem;
using report::testing::TempFolder;

cv::Mat grey_hdr(int rows, int cols, float value) {
  return cv::Mat(rows, cols, CV_32FC3, cv::Scalar::all(value));
}

// ---- tone mapping ----------------------------------------------------------

TEST(ToneMap, BlackStaysBlack) {
  const cv::Mat hdr = grey_hdr(4, 8, 0.0f);
  EXPECT_EQ(exposure_scale(hdr), 1.0f);
  cv::Mat ldr;
  tone_map_to_8bit(hdr, ldr);
  ASSERT_EQ(ldr.type(), CV_8UC3);
  ASSERT_EQ(ldr.size(), hdr.size());
  EXPECT_EQ(cv::countNonZero(ldr.reshape(1)), 0);
}

TEST(ToneMap, NinetyNinthPercentileLandsAtHalfBeforeGamma) {
  // Luminance of a grey pixel equals its value, so a flat grey image of 4
  // gets the exposure 1/4 and every pixel becomes 255 * 0.5^(1/2.2).
  const cv::Mat hdr = grey_hdr(10, 20, 4.0f);
  EXPECT_FLOAT_EQ(exposure_scale(hdr), 0.25f);
  cv::Mat ldr;
  tone_map_to_8bit(hdr, ldr);
  const int expected = static_cast<int>(std::lround(255.0 * std::pow(0.5, 1.0 / 2.2)));
  EXPECT_EQ(expected, 186);
  EXPECT_EQ(ldr.at<cv::Vec3b>(5, 5), cv::Vec3b(186, 186, 186));
}

TEST(ToneMap, PercentileIgnoresTheBrightestPercent) {
  // 100 pixels: 99 at 2.0 and one sun at 1e4. The 99th percentile is 2.0.
  cv::Mat hdr = grey_hdr(10, 10, 2.0f);
  hdr.at<cv::Vec3f>(0, 0) = cv::Vec3f(1e4f, 1e4f, 1e4f);
  EXPECT_FLOAT_EQ(exposure_scale(hdr), 0.5f);
}

TEST(ToneMap, MonotonicPerChannel) {
  // A ramp from 0 to 50 along the row in one channel at a time, the other
  // channels held, so the exposure is fixed for the whole image.
  for (int channel = 0; channel < 3; ++channel) {
    cv::Mat hdr = grey_hdr(1, 1000, 1.0f);
    for (int c = 0; c < hdr.cols; ++c) hdr.at<cv::Vec3f>(0, c)[channel] = 0.05f * c;
    cv::Mat ldr;
    tone_map_to_8bit(hdr, ldr);
    for (int c = 1; c < ldr.cols; ++c) {
      ASSERT_GE(ldr.at<cv::Vec3b>(0, c)[channel], ldr.at<cv::Vec3b>(0, c - 1)[channel])
          << "channel " << channel << " column " << c;
    }
    EXPECT_EQ(ldr.at<cv::Vec3b>(0, 0)[channel], 0);
    EXPECT_GT(ldr.at<cv::Vec3b>(0, ldr.cols - 1)[channel], 150);
  }
}

TEST(ToneMap, OutOfRangeInputsStayInsideTheByteRange) {
  struct Case {
    float value;
    int low, high;  // expected output bounds
  };
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {-5.0f, 0, 0},
      {-inf, 0, 0},
      {std::numeric_limits<float>::quiet_NaN(), 0, 0},
      {1e30f, 254, 255},
      {inf, 255, 255},
      {std::numeric_limits<float>::max(), 254, 255},
  };
  for (const Case& c : cases) {
    // The special value sits in one pixel of a normally lit image.
    cv::Mat hdr = grey_hdr(10, 10, 1.0f);
    hdr.at<cv::Vec3f>(3, 3) = cv::Vec3f(c.value, c.value, c.value);
    cv::Mat ldr;
    tone_map_to_8bit(hdr, ldr);
    const int v = ldr.at<cv::Vec3b>(3, 3)[1];
    EXPECT_GE(v, c.low) << c.value;
    EXPECT_LE(v, c.high) << c.value;
    EXPECT_EQ(ldr.at<cv::Vec3b>(0, 0), cv::Vec3b(186, 186, 186)) << c.value;
  }
}

TEST(ToneMap, KeepsChannelOrder) {
  cv::Mat hdr = grey_hdr(10, 10, 0.0f);
  hdr.setTo(cv::Scalar(0.0, 0.0, 3.0));  // pure red in BGR
  cv::Mat ldr;
  tone_map_to_8bit(hdr, ldr);
  const cv::Vec3b px = ldr.at<cv::Vec3b>(0, 0);
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 0);
  EXPECT_GT(px[2], 200);
}

// ---- the demo set ----------------------------------------------------------

TEST(DemoSet, ImagesJsonListsEightRecordsWithOneNotMain) {
  // Read the way quarrow itself reads images.json.
  std::vector<ImageRecord> records;
  std::istringstream text(images_json_text(demo_panoramas()));
  ASSERT_NO_THROW(read_image_records(text, records));
  ASSERT_EQ(records.size(), 8u);
  const char* names[] = {"city",  "courtyard", "forest",  "interior",
                         "night", "studio",    "sunrise", "sunset"};
  int not_main = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].uuid, names[i]);
    EXPECT_EQ(records[i].id, i + 1);
    EXPECT_EQ(records[i].file_name, std::string(names[i]) + ".jpg");
    not_main += records[i].is_main ? 0 : 1;
  }
  EXPECT_EQ(not_main, 1);
  EXPECT_FALSE(records[6].is_main) << "sunrise is the record passed over";
}

TEST(DemoSet, WritesTonedJpegsAndImagesJson) {
  TempFolder source, data;
  setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 1);
  const std::vector<DemoPanorama> set = {{"bright", 1, true}, {"dark", 2, false}};
  ASSERT_TRUE(cv::imwrite(source.path() + "/bright.exr", grey_hdr(16, 32, 8.0f)));
  ASSERT_TRUE(cv::imwrite(source.path() + "/dark.exr", grey_hdr(16, 32, 0.0f)));
  std::string error;
  ASSERT_TRUE(write_demo_data(source.path(), data.path() + "/new", set, error)) << error;

  const fs::path caches = fs::path(data.path()) / "new" / "caches";
  const cv::Mat bright = cv::imread((caches / "images" / "bright.jpg").string());
  const cv::Mat dark = cv::imread((caches / "images" / "dark.jpg").string());
  ASSERT_EQ(bright.size(), cv::Size(32, 16));
  ASSERT_EQ(dark.size(), cv::Size(32, 16));
  EXPECT_NEAR(bright.at<cv::Vec3b>(8, 8)[1], 186, 2);  // JPEG may move a level
  EXPECT_LE(dark.at<cv::Vec3b>(8, 8)[1], 2);

  std::ifstream in(caches / "images.json");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), images_json_text(set));
  EXPECT_EQ(text.str(),
            "{\"images\": [\n"
            "  {\"uuid\": \"bright\", \"id\": 1, \"is_main\": true},\n"
            "  {\"uuid\": \"dark\", \"id\": 2, \"is_main\": false}\n"
            "]}\n");
}

TEST(DemoSet, MissingSourceNamesTheFile) {
  TempFolder source, data;
  std::string error;
  EXPECT_FALSE(write_demo_data(source.path(), data.path(), {{"absent", 1, true}}, error));
  EXPECT_NE(error.find(source.path() + "/absent.exr"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(fs::path(data.path()) / "caches" / "images.json"));
}

}  // namespace
}  // namespace quarrow::demo
