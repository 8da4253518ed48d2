#include "analysis/image_preparation.h"

#include <fstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "test_folder.h"

namespace quarrow {
namespace {

// A busy 8-bit BGR test picture, so that resampling differences show.
cv::Mat pattern(int width, int height) {
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>((x * 7 + y * 3) % 256),
                                           static_cast<uchar>((x * x + y) % 251),
                                           static_cast<uchar>((y * 11 + x / 5) % 256));
    }
  }
  return image;
}

// The network input worked out from the decoded picture, step by step.
cv::Mat reference_input(const cv::Mat& decoded, bool two_steps) {
  cv::Mat image = decoded.clone();
  if (two_steps) cv::resize(image, image, cv::Size(2048, 1024), 0, 0, cv::INTER_LINEAR);
  cv::resize(image, image, cv::Size(512, 256), 0, 0, cv::INTER_LINEAR);
  cv::Mat rgb;
  cv::cvtColor(image, rgb, cv::COLOR_BGR2RGB);
  cv::Mat unit;
  rgb.convertTo(unit, CV_32FC3, 1.0 / 255.0);
  cv::Mat result(256, 512, CV_32FC3);
  const float mean[3] = {0.485f, 0.456f, 0.406f};
  const float deviation[3] = {0.229f, 0.224f, 0.225f};
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 512; ++x) {
      for (int k = 0; k < 3; ++k) {
        result.at<cv::Vec3f>(y, x)[k] = (unit.at<cv::Vec3f>(y, x)[k] - mean[k]) / deviation[k];
      }
    }
  }
  return result;
}

bool bitwise_equal(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() &&
         std::equal(a.datastart, a.dataend, b.datastart);
}

struct Prepared {
  bool ok = false;
  cv::Mat panorama, net_input, depth_map, sky_mask;
};

Prepared prepare(const std::string& path) {
  Prepared p;
  p.ok = prepare_panorama(path, p.panorama, p.net_input, p.depth_map, p.sky_mask);
  return p;
}

TEST(PreparePanoramaTest, SizesTakeOneOrTwoResizes) {
  struct Case {
    int width, height;
    bool two_steps;
  };
  const Case cases[] = {{2048, 1024, false}, {2048, 2048, false}, {4096, 2048, true}, {1024, 512, true}};
  TestFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const std::string path = folder.file("pano.png");
    const cv::Mat picture = pattern(c.width, c.height);
    ASSERT_TRUE(cv::imwrite(path, picture));
    const Prepared p = prepare(path);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.panorama.size(), cv::Size(512, 256));
    EXPECT_TRUE(bitwise_equal(p.net_input, reference_input(picture, c.two_steps)));
    if (c.two_steps) {
      // The single resize gives another picture: the two steps are required.
      EXPECT_FALSE(bitwise_equal(p.net_input, reference_input(picture, false)));
    }
  }
}

TEST(PreparePanoramaTest, ResultBuffersAreCreatedAtWorkingSize) {
  TestFolder folder;
  const std::string path = folder.file("pano.png");
  ASSERT_TRUE(cv::imwrite(path, pattern(700, 300)));
  const Prepared p = prepare(path);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.net_input.type(), CV_32FC3);
  EXPECT_EQ(p.depth_map.type(), CV_32FC1);
  EXPECT_EQ(p.depth_map.size(), cv::Size(512, 256));
  EXPECT_EQ(cv::countNonZero(p.depth_map), 0);
  EXPECT_EQ(p.sky_mask.type(), CV_8UC1);
  EXPECT_EQ(p.sky_mask.size(), cv::Size(512, 256));
  EXPECT_EQ(cv::countNonZero(p.sky_mask), 0);
  EXPECT_TRUE(p.net_input.isContinuous());
}

TEST(PreparePanoramaTest, GreyAndAlphaFilesBecomeThreeChannels) {
  TestFolder folder;
  const cv::Mat colour = pattern(2048, 1024);
  cv::Mat grey;
  cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
  cv::Mat with_alpha;
  cv::cvtColor(colour, with_alpha, cv::COLOR_BGR2BGRA);
  with_alpha.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 17; });

  ASSERT_TRUE(cv::imwrite(folder.file("grey.png"), grey));
  ASSERT_TRUE(cv::imwrite(folder.file("alpha.png"), with_alpha));

  cv::Mat grey_as_bgr;
  cv::cvtColor(grey, grey_as_bgr, cv::COLOR_GRAY2BGR);
  const Prepared g = prepare(folder.file("grey.png"));
  ASSERT_TRUE(g.ok);
  EXPECT_TRUE(bitwise_equal(g.net_input, reference_input(grey_as_bgr, false)));

  const Prepared a = prepare(folder.file("alpha.png"));
  ASSERT_TRUE(a.ok);
  EXPECT_TRUE(bitwise_equal(a.net_input, reference_input(colour, false)));
}

TEST(PreparePanoramaTest, BlackWhiteAndBluePixelValues) {
  struct Case {
    cv::Scalar bgr;
    cv::Vec3f expected;
  };
  const Case cases[] = {
      {cv::Scalar(0, 0, 0), {-2.1179039f, -2.0357141f, -1.8044444f}},
      {cv::Scalar(255, 255, 255), {2.2489083f, 2.4285715f, 2.6400001f}},
      {cv::Scalar(255, 0, 0), {-2.1179039f, -2.0357141f, 2.6400001f}},  // blue lands in channel 2
  };
  TestFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bgr);
    const std::string path = folder.file("flat.png");
    ASSERT_TRUE(cv::imwrite(path, cv::Mat(1024, 2048, CV_8UC3, c.bgr)));
    const Prepared p = prepare(path);
    ASSERT_TRUE(p.ok);
    for (const cv::Point at : {cv::Point(0, 0), cv::Point(511, 255), cv::Point(200, 100)}) {
      const cv::Vec3f value = p.net_input.at<cv::Vec3f>(at);
      for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(value[k], c.expected[k]);
    }
  }
}

TEST(PreparePanoramaTest, BackslashPathReachesTheFile) {
  TestFolder folder;
  ASSERT_TRUE(cv::imwrite(folder.file("pano.png"), pattern(2048, 1024)));
  std::string rendered = folder.path() + "\\pano.png";
  EXPECT_TRUE(prepare(rendered).ok);
}

TEST(PreparePanoramaTest, UndecodableOrMissingFileIsReported) {
  TestFolder folder;
  const std::string path = folder.file("broken.jpg");
  std::ofstream(path) << "this is not a picture";
  cv::Mat panorama, net_input, depth_map, sky_mask;
  EXPECT_FALSE(prepare_panorama(path, panorama, net_input, depth_map, sky_mask));
  EXPECT_TRUE(net_input.empty());
  EXPECT_TRUE(depth_map.empty());
  EXPECT_TRUE(sky_mask.empty());
  EXPECT_FALSE(prepare(folder.file("missing.png")).ok);
}

}  // namespace
}  // namespace quarrow
