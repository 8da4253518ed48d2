#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_trimming.h"
#include "analysis/output_files.h"
#include "small_tmpfs.h"
#include "test_folder.h"

namespace quarrow {
namespace {

cv::Mat positive_depth() {
  cv::Mat depth(256, 512, CV_32FC1);
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 512; ++c) depth.at<float>(r, c) = 1.0f + 0.37f * r + 0.011f * c;
  }
  return depth;
}

// Cleared pixels of a trimmed map: exactly the zeros.
cv::Rect cleared_box(const cv::Mat& depth) {
  std::vector<cv::Point> zeros;
  cv::findNonZero(depth == 0.0f, zeros);
  return zeros.empty() ? cv::Rect() : cv::boundingRect(zeros);
}

TEST(TrimOutdoorDepthTest, PositiveEverywhereIsKept) {
  const cv::Mat original = positive_depth();
  cv::Mat depth = original.clone();
  trim_outdoor_depth(depth);
  ASSERT_EQ(depth.type(), CV_32FC1);
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 512; ++c) {
      ASSERT_FLOAT_EQ(depth.at<float>(r, c), original.at<float>(r, c)) << r << "," << c;
    }
  }
}

TEST(TrimOutdoorDepthTest, NonPositiveValueClearsItsNeighbourhood) {
  struct Case {
    cv::Point at;
    float value;
    cv::Rect cleared;
  };
  const Case cases[] = {
      {{100, 100}, 0.0f, {95, 95, 11, 11}},   // inside: 11 x 11
      {{300, 0}, 0.0f, {295, 0, 11, 6}},      // top row: 11 x 6
      {{0, 255}, -2.0f, {0, 250, 6, 6}},      // corner: 6 x 6
      {{200, 50}, -3.5f, {195, 45, 11, 11}},  // negative counts as no depth
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.at);
    cv::Mat depth = positive_depth();
    depth.at<float>(c.at) = c.value;
    trim_outdoor_depth(depth);
    EXPECT_EQ(cleared_box(depth), c.cleared);
    EXPECT_EQ(cv::countNonZero(depth == 0.0f), c.cleared.area());
  }
}

TEST(TrimOutdoorDepthTest, NegativeBecomesMinusZeroAndNaNStays) {
  cv::Mat depth = positive_depth();
  depth.at<float>(60, 60) = -4.0f;
  depth.at<float>(60, 62) = std::numeric_limits<float>::quiet_NaN();
  depth.at<float>(200, 400) = std::numeric_limits<float>::quiet_NaN();
  trim_outdoor_depth(depth);
  EXPECT_EQ(depth.at<float>(60, 60), 0.0f);
  EXPECT_TRUE(std::signbit(depth.at<float>(60, 60)));
  EXPECT_FALSE(std::signbit(depth.at<float>(60, 61)));
  EXPECT_TRUE(std::isnan(depth.at<float>(60, 62)));
  EXPECT_TRUE(std::isnan(depth.at<float>(200, 400)));
  // The NaN also counts as no depth around it.
  EXPECT_EQ(depth.at<float>(205, 405), 0.0f);
  EXPECT_GT(depth.at<float>(206, 406), 0.0f);
}

TEST(OutputFileNamesTest, StemWithSuffixAndExtension) {
  struct Case {
    const char* folder;
    const char* image;
    const char* mask;
    const char* depth;
  };
  const Case cases[] = {
      {"C:\\data\\caches\\segm\\", "C:\\data\\caches\\images\\pano01.jpg",
       "C:\\data\\caches\\segm\\pano01_sky_segm.png", "C:\\data\\caches\\segm\\pano01.bin"},
      {"C:\\data\\caches\\segm", "C:\\data\\caches\\images\\pano01.jpg",
       "C:\\data\\caches\\segm\\pano01_sky_segm.png", "C:\\data\\caches\\segm\\pano01.bin"},
      {"out/", "images/pano01", "out/pano01_sky_segm.png", "out/pano01.bin"},
      {"out", "a.b.jpg", "out\\a.b_sky_segm.png", "out\\a.b.bin"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sky_mask_file_path(c.folder, c.image), c.mask);
    EXPECT_EQ(depth_map_file_path(c.folder, c.image), c.depth);
  }
}

TEST(WriteDepthMapTest, RawLittleEndianFloatsReadBack) {
  TestFolder folder;
  cv::Mat depth = positive_depth();
  depth.at<float>(0, 0) = -0.0f;
  depth.at<float>(255, 511) = std::numeric_limits<float>::quiet_NaN();
  const std::string path = folder.path() + "\\pano01.bin";
  {
    std::ofstream stale(folder.file("pano01.bin"), std::ios::binary);
    stale << std::string(600000, 'x');  // a longer old file is replaced
  }
  ASSERT_TRUE(write_depth_map(path, depth));

  std::ifstream in(folder.file("pano01.bin"), std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 524288u);
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 512; ++c) {
      const std::size_t at = (static_cast<std::size_t>(r) * 512 + c) * 4;
      const std::uint32_t bits = bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                 (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
      std::uint32_t expected = 0;
      std::memcpy(&expected, &depth.at<float>(r, c), 4);
      ASSERT_EQ(bits, expected) << r << "," << c;
    }
  }
}

TEST(WriteDepthMapTest, UnwritablePathIsReported) {
  TestFolder folder;
  EXPECT_FALSE(write_depth_map(folder.file("missing_folder/pano01.bin"), positive_depth()));
}

TEST(WriteSkyMaskTest, StoresZeroAnd255) {
  TestFolder folder;
  cv::Mat mask = cv::Mat::zeros(256, 512, CV_8UC1);
  mask.rowRange(0, 30).setTo(255);
  mask.at<std::uint8_t>(100, 100) = 1;  // any nonzero value is stored as 255
  ASSERT_TRUE(write_sky_mask(folder.path() + "\\m_sky_segm.png", mask));
  const cv::Mat read = cv::imread(folder.file("m_sky_segm.png"), cv::IMREAD_UNCHANGED);
  ASSERT_EQ(read.type(), CV_8UC1);
  ASSERT_EQ(read.size(), cv::Size(512, 256));
  EXPECT_EQ(cv::countNonZero(read), 30 * 512 + 1);
  EXPECT_EQ(cv::countNonZero(read == 255), 30 * 512 + 1);
  EXPECT_FALSE(write_sky_mask(folder.file("missing_folder/m.png"), mask));
}

std::vector<unsigned char> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

TEST(WriteSkyMaskTest, BytesAreThoseOfImwriteWithDefaultSettings) {
  TestFolder folder;
  cv::Mat mask = cv::Mat::zeros(256, 512, CV_8UC1);
  mask.rowRange(0, 77).setTo(1);
  cv::circle(mask, {300, 120}, 40, cv::Scalar(1), cv::FILLED);
  ASSERT_TRUE(write_sky_mask(folder.file("m_sky_segm.png"), mask));
  const cv::Mat scaled = mask * 255;
  ASSERT_TRUE(cv::imwrite(folder.file("direct.png"), scaled));
  const std::vector<unsigned char> written = file_bytes(folder.file("m_sky_segm.png"));
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written, file_bytes(folder.file("direct.png")));
}

TEST(WriteSkyMaskTest, EmptyMaskIsRefusedAndKeepsThePreviousFile) {
  TestFolder folder;
  const cv::Mat mask = cv::Mat::zeros(256, 512, CV_8UC1);
  ASSERT_TRUE(write_sky_mask(folder.file("m.png"), mask));
  const std::vector<unsigned char> before = file_bytes(folder.file("m.png"));
  EXPECT_FALSE(write_sky_mask(folder.file("m.png"), cv::Mat()));
  EXPECT_EQ(file_bytes(folder.file("m.png")), before);
}

// A full disk: both writers answer false and the results of an earlier run
// stay as they were, with no temporary file left beside them.
TEST(OutputFilesFullDiskTest, PreviousMaskAndDepthMapSurvive) {
  SmallTmpfs disk(1 << 20);
  if (!disk.mounted()) GTEST_SKIP() << disk.reason();
  cv::Mat mask = cv::Mat::zeros(256, 512, CV_8UC1);
  mask.rowRange(0, 40).setTo(1);
  ASSERT_TRUE(write_sky_mask(disk.file("p_sky_segm.png"), mask));
  ASSERT_TRUE(write_depth_map(disk.file("p.bin"), positive_depth()));
  const std::vector<unsigned char> old_mask = file_bytes(disk.file("p_sky_segm.png"));
  const std::vector<unsigned char> old_depth = file_bytes(disk.file("p.bin"));
  ASSERT_EQ(old_depth.size(), 524288u);
  disk.fill();

  mask.rowRange(0, 100).setTo(1);
  EXPECT_FALSE(write_sky_mask(disk.file("p_sky_segm.png"), mask));
  EXPECT_FALSE(write_depth_map(disk.file("p.bin"), positive_depth() * 2.0));
  EXPECT_EQ(file_bytes(disk.file("p_sky_segm.png")), old_mask);
  EXPECT_EQ(file_bytes(disk.file("p.bin")), old_depth);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(disk.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"filler", "p.bin", "p_sky_segm.png"}));
}

}  // namespace
}  // namespace quarrow
