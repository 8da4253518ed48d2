// Tests of quarrow-report: record list reading, depth files, pictures, the
// page, and the program's exit codes.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include <sys/wait.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "depth_file.h"
#include "html_page.h"
#include "record_entry.h"
#include "record_list.h"
#include "report.h"
#include "report_fixture.h"
#include "report_images.h"

namespace quarrow::report {
namespace {
namespace fs = std::filesystem;
using testing::TempFolder;

std::string read_all(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The card of a processed record, from its heading to the end of its section.
std::string card_of(const std::string& html, const std::string& uuid) {
  const size_t start = html.find("<h3>" + uuid + "</h3>");
  if (start == std::string::npos) return {};
  return html.substr(start, html.find("</section>", start) - start);
}

// The passed-over table row of a record.
std::string row_of(const std::string& html, const std::string& uuid) {
  const size_t cell = html.find("<td>" + uuid + "</td>");
  if (cell == std::string::npos) return {};
  const size_t start = html.rfind("<tr>", cell);
  return html.substr(start, html.find("</tr>", cell) - start);
}

// ---- record list -----------------------------------------------------------

TEST(ParseRecordJson, ReadsMembersInAnyOrder) {
  std::vector<ReportRecord> records;
  std::string error;
  ASSERT_TRUE(parse_record_json(
      R"({"images": [{"is_main": false, "sky_ratio": 40, "uuid": "a", "is_outdoor": true, "id": 7},
                     {"uuid": "b", "id": 18446744073709551615, "is_main": true}]})",
      records, error))
      << error;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].uuid, "a");
  EXPECT_EQ(records[0].id, 7u);
  EXPECT_FALSE(records[0].is_main);
  EXPECT_TRUE(records[0].is_outdoor);
  EXPECT_FLOAT_EQ(records[0].sky_ratio, 40.0f);
  EXPECT_EQ(records[1].id, std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(records[1].is_outdoor);
  EXPECT_EQ(records[1].sky_ratio, 0.0f);
}

TEST(ParseRecordJson, SkyRatioCountsOnlyAfterBooleanIsOutdoor) {
  std::vector<ReportRecord> records;
  std::string error;
  ASSERT_TRUE(parse_record_json(
      R"({"images": [{"uuid": "a", "id": 1, "is_main": true, "sky_ratio": 40},
                     {"uuid": "b", "id": 2, "is_main": true, "is_outdoor": 1, "sky_ratio": 40},
                     {"uuid": "c", "id": 3, "is_main": true, "is_outdoor": true, "sky_ratio": NaN}]})",
      records, error))
      << error;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].sky_ratio, 0.0f);
  EXPECT_EQ(records[1].sky_ratio, 0.0f);
  EXPECT_FALSE(records[1].is_outdoor);
  EXPECT_TRUE(records[2].is_outdoor);
  EXPECT_TRUE(std::isnan(records[2].sky_ratio));
}

TEST(ParseRecordJson, RejectsBrokenDocumentsWithAReason) {
  struct Case {
    const char* json;
    const char* reason_part;
  };
  const Case cases[] = {
      {"", "not valid JSON"},
      {"{\"images\": [", "not valid JSON"},
      {"[]", "not a JSON object"},
      {"{\"pictures\": []}", "no \"images\" array"},
      {"{\"images\": {}}", "no \"images\" array"},
      {"{\"images\": [7]}", "record 1 is not a JSON object"},
      {"{\"images\": [{\"id\": 1, \"is_main\": true}]}", "record 1: \"uuid\""},
      {"{\"images\": [{\"uuid\": 5, \"id\": 1, \"is_main\": true}]}", "record 1: \"uuid\""},
      {"{\"images\": [{\"uuid\": \"a\", \"id\": 1, \"is_main\": true},"
       " {\"uuid\": \"b\", \"id\": -1, \"is_main\": true}]}",
       "record 2 (b): \"id\""},
      {"{\"images\": [{\"uuid\": \"a\", \"id\": 1.5, \"is_main\": true}]}", "\"id\""},
      {"{\"images\": [{\"uuid\": \"a\", \"id\": 1}]}", "\"is_main\""},
      {"{\"images\": [{\"uuid\": \"a\", \"id\": 1, \"is_main\": 1}]}", "\"is_main\""},
  };
  for (const Case& c : cases) {
    std::vector<ReportRecord> records;
    std::string error;
    EXPECT_FALSE(parse_record_json(c.json, records, error)) << c.json;
    EXPECT_NE(error.find(c.reason_part), std::string::npos) << c.json << " -> " << error;
  }
}

TEST(LoadRecordList, PrefersOutdoorFlagOverImagesJson) {
  TempFolder tmp;
  const fs::path caches = fs::path(tmp.path());
  testing::write_text((caches / "images.json").string(),
                      R"({"images": [{"uuid": "in", "id": 1, "is_main": true}]})");
  RecordList list;
  std::string error;
  ASSERT_TRUE(load_record_list(caches.string(), list, error)) << error;
  EXPECT_EQ(list.source_name, "images.json");
  EXPECT_FALSE(list.has_results);
  ASSERT_EQ(list.records.size(), 1u);
  EXPECT_EQ(list.records[0].uuid, "in");

  testing::write_text((caches / "outdoor_flag.json").string(),
                      R"({"images": [{"uuid": "out", "id": 1, "is_main": true,
                                       "is_outdoor": true, "sky_ratio": 75.0}]})");
  ASSERT_TRUE(load_record_list(caches.string(), list, error)) << error;
  EXPECT_EQ(list.source_name, "outdoor_flag.json");
  EXPECT_TRUE(list.has_results);
  ASSERT_EQ(list.records.size(), 1u);
  EXPECT_EQ(list.records[0].uuid, "out");
}

TEST(LoadRecordList, FailsWithoutEitherFile) {
  TempFolder tmp;
  RecordList list;
  std::string error;
  EXPECT_FALSE(load_record_list(tmp.path(), list, error));
  EXPECT_NE(error.find("neither outdoor_flag.json nor images.json"), std::string::npos);
}

// ---- depth files -----------------------------------------------------------

TEST(DepthFile, ReadsLittleEndianRowsFromTheTop) {
  TempFolder tmp;
  const std::string path = tmp.path() + "/d.bin";
  const cv::Mat written = testing::sunny_depth();
  testing::write_depth(path, written);
  ASSERT_EQ(fs::file_size(path), kDepthFileBytes);
  cv::Mat read;
  std::string error;
  ASSERT_TRUE(read_depth_file(path, read, error)) << error;
  ASSERT_EQ(read.type(), CV_32FC1);
  ASSERT_EQ(read.size(), cv::Size(512, 256));
  EXPECT_EQ(cv::norm(read, written, cv::NORM_INF), 0.0);
  EXPECT_EQ(read.at<float>(0, 0), 0.0f);
  EXPECT_EQ(read.at<float>(255, 511), testing::kSunnyMax);
}

TEST(DepthFile, RejectsMissingAndWrongSizedFiles) {
  TempFolder tmp;
  cv::Mat depth;
  std::string error;
  EXPECT_FALSE(read_depth_file(tmp.path() + "/none.bin", depth, error));
  EXPECT_EQ(error, "depth file missing");
  for (size_t size : {size_t{0}, kDepthFileBytes - 4, kDepthFileBytes + 1}) {
    const std::string path = tmp.path() + "/short.bin";
    testing::write_text(path, std::string(size, '\x01'));
    EXPECT_FALSE(read_depth_file(path, depth, error)) << size;
    EXPECT_NE(error.find(std::to_string(size) + " bytes, expected 524288"), std::string::npos)
        << error;
  }
}

TEST(DepthRange, SpansOnlyFinitePositiveDepths) {
  cv::Mat depth(4, 4, CV_32FC1, cv::Scalar(0.0f));
  depth.at<float>(0, 0) = -5.0f;
  depth.at<float>(0, 1) = std::numeric_limits<float>::quiet_NaN();
  depth.at<float>(0, 2) = std::numeric_limits<float>::infinity();
  depth.at<float>(1, 0) = 3.0f;
  depth.at<float>(2, 0) = 0.5f;
  depth.at<float>(3, 3) = 80.0f;
  const DepthRange range = depth_range(depth);
  EXPECT_TRUE(range.valid);
  EXPECT_EQ(range.min, 0.5f);
  EXPECT_EQ(range.max, 80.0f);
  EXPECT_EQ(range.pixels, 3u);

  const DepthRange none = depth_range(cv::Mat(4, 4, CV_32FC1, cv::Scalar(-1.0f)));
  EXPECT_FALSE(none.valid);
  EXPECT_EQ(none.pixels, 0u);
}

// ---- pictures --------------------------------------------------------------

TEST(ReportImages, DepthColoursFollowTheColourBar) {
  cv::Mat depth(256, 512, CV_32FC1, cv::Scalar(5.0f));
  depth.at<float>(0, 0) = 2.0f;    // range minimum
  depth.at<float>(0, 1) = 10.0f;   // range maximum
  depth.at<float>(0, 2) = 0.0f;    // no depth
  depth.at<float>(0, 3) = std::numeric_limits<float>::quiet_NaN();
  cv::Mat coloured, bar;
  make_depth_image(depth, depth_range(depth), coloured);
  make_colour_bar(bar);
  ASSERT_EQ(coloured.size(), depth.size());
  ASSERT_EQ(coloured.type(), CV_8UC3);
  ASSERT_EQ(bar.size(), cv::Size(kColourBarWidth, kColourBarHeight));
  const cv::Vec3b low = bar.at<cv::Vec3b>(0, 0);
  const cv::Vec3b high = bar.at<cv::Vec3b>(0, kColourBarWidth - 1);
  const cv::Vec3b grey(96, 96, 96);
  EXPECT_NE(low, high);
  EXPECT_EQ(coloured.at<cv::Vec3b>(0, 0), low);
  EXPECT_EQ(coloured.at<cv::Vec3b>(0, 1), high);
  EXPECT_EQ(coloured.at<cv::Vec3b>(0, 2), grey);
  EXPECT_EQ(coloured.at<cv::Vec3b>(0, 3), grey);
  // 5 m is 3/8 of the way from 2 to 10: level 96 of 255.
  EXPECT_EQ(coloured.at<cv::Vec3b>(100, 100), bar.at<cv::Vec3b>(0, 96));
}

TEST(ReportImages, FlatOrEmptyDepthMapsStillDraw) {
  cv::Mat coloured, bar;
  make_colour_bar(bar);
  const cv::Mat flat(256, 512, CV_32FC1, cv::Scalar(3.0f));
  make_depth_image(flat, depth_range(flat), coloured);
  EXPECT_EQ(coloured.at<cv::Vec3b>(10, 10), bar.at<cv::Vec3b>(0, 0));
  const cv::Mat empty(256, 512, CV_32FC1, cv::Scalar(0.0f));
  make_depth_image(empty, depth_range(empty), coloured);
  EXPECT_EQ(coloured.at<cv::Vec3b>(10, 10), cv::Vec3b(96, 96, 96));
}

TEST(ReportImages, OverlayTintsOnlyTheSky) {
  const cv::Mat thumb(256, 512, CV_8UC3, cv::Scalar(10, 20, 30));
  cv::Mat mask(256, 512, CV_8UC1, cv::Scalar(0));
  mask.rowRange(0, 100).setTo(255);
  cv::Mat overlay;
  make_sky_overlay(thumb, mask, overlay);
  ASSERT_EQ(overlay.size(), thumb.size());
  EXPECT_EQ(overlay.at<cv::Vec3b>(200, 200), cv::Vec3b(10, 20, 30));  // ground untouched
  EXPECT_NE(overlay.at<cv::Vec3b>(50, 200), cv::Vec3b(10, 20, 30));   // sky tinted
  // Only rows 0..99 (plus the outline on their boundary) may change.
  cv::Mat changed;
  cv::absdiff(overlay, thumb, changed);
  cv::Mat any_change;
  cv::transform(changed, any_change, cv::Matx13f(1, 1, 1));
  EXPECT_EQ(cv::countNonZero(any_change.rowRange(100, 256)), 0);
  EXPECT_EQ(cv::countNonZero(any_change.rowRange(0, 100)), 100 * 512);
}

TEST(PngPrefix, KeepsNamesSafeAndDistinct) {
  EXPECT_EQ(png_prefix(0, "city"), "1-city");
  EXPECT_EQ(png_prefix(9, "a-b_C9"), "10-a-b_C9");
  EXPECT_EQ(png_prefix(2, "../../etc/x y"), "3-______etc_x_y");
  EXPECT_EQ(png_prefix(2, "<img src=x>").find_first_of("<>\"' /="), std::string::npos);
  EXPECT_LE(png_prefix(0, std::string(500, 'a')).size(), 48u);
  EXPECT_NE(png_prefix(0, "same"), png_prefix(1, "same"));
}

TEST(HtmlPage, EscapesAndFormats) {
  EXPECT_EQ(html_escape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  EXPECT_EQ(format_ratio(62.5f), "62.50 %");
  EXPECT_EQ(format_ratio(0.0f), "0.00 %");
  EXPECT_EQ(format_metres(2.5f), "2.50 m");
  EXPECT_EQ(format_metres(37.5f), "37.5 m");
}

// ---- the whole report ------------------------------------------------------

class SyntheticRun : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::make_synthetic_run(tmp_.path());
    std::string error;
    ASSERT_TRUE(write_report(tmp_.path(), summary_, error)) << error;
    html_ = read_all(caches() / "report.html");
  }
  fs::path caches() const { return fs::path(tmp_.path()) / "caches"; }

  TempFolder tmp_;
  ReportSummary summary_;
  std::string html_;
};

TEST_F(SyntheticRun, CountsAndLocation) {
  EXPECT_EQ(summary_.records, 6u);
  EXPECT_EQ(summary_.processed, 2u);
  EXPECT_TRUE(fs::equivalent(summary_.html_path, caches() / "report.html"));
  EXPECT_NE(html_.find("<b>6</b>records"), std::string::npos);
  EXPECT_NE(html_.find("<b>2</b>processed"), std::string::npos);
  EXPECT_NE(html_.find("<b>1</b>outdoor"), std::string::npos);
  EXPECT_NE(html_.find("<b>1</b>indoor"), std::string::npos);
  EXPECT_NE(html_.find("<b>4</b>passed over"), std::string::npos);
  EXPECT_EQ(html_.find("<script"), std::string::npos);
}

TEST_F(SyntheticRun, ProcessedRecordsShowDecisionRatioAndDepthScale) {
  struct Case {
    const char* uuid;
    const char* badge;
    const char* ratio;
    float min, max;
  };
  const Case cases[] = {
      {"sunny", "badge outdoor\">outdoor", "62.50 %", testing::kSunnyMin, testing::kSunnyMax},
      {"dim", "badge indoor\">indoor", "12.25 %", testing::kDimMin, testing::kDimMax},
  };
  for (const Case& c : cases) {
    const std::string card = card_of(html_, c.uuid);
    ASSERT_FALSE(card.empty()) << c.uuid;
    EXPECT_NE(card.find(c.badge), std::string::npos) << card;
    EXPECT_NE(card.find("sky ratio <b>" + std::string(c.ratio) + "</b>"), std::string::npos)
        << card;
    EXPECT_NE(card.find("class=\"min\">" + format_metres(c.min) + "<"), std::string::npos)
        << card;
    EXPECT_NE(card.find("class=\"max\">" + format_metres(c.max) + "<"), std::string::npos)
        << card;
  }
  // The sunny map has its top 40 rows trimmed and one negative value.
  EXPECT_NE(card_of(html_, "sunny").find("84.4 % of pixels"), std::string::npos);
  EXPECT_NE(card_of(html_, "dim").find("100.0 % of pixels"), std::string::npos);
}

TEST_F(SyntheticRun, PassedOverRecordsCarryTheirReason) {
  struct Case {
    const char* uuid;
    std::vector<const char*> reason_parts;
  };
  const Case cases[] = {
      {"skipped", {"not a main image"}},
      {"ghost", {"image file images/ghost.jpg missing"}},
      {"noout",
       {"outputs missing", "segm/noout_sky_segm.png missing", "depthmap/noout.bin"}},
      {"baddepth", {"outputs missing", "100 bytes, expected 524288", "depthmap/baddepth.bin"}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(card_of(html_, c.uuid).empty()) << c.uuid << " must not have a card";
    const std::string row = row_of(html_, c.uuid);
    ASSERT_FALSE(row.empty()) << c.uuid;
    for (const char* part : c.reason_parts) {
      EXPECT_NE(row.find(part), std::string::npos) << c.uuid << ": " << row;
    }
  }
  EXPECT_EQ(row_of(html_, "baddepth").find("sky mask"), std::string::npos)
      << "the mask of baddepth is fine";
}

TEST_F(SyntheticRun, PicturesExistWithTheirSizes) {
  const fs::path folder = caches() / "report";
  for (const char* prefix : {"1-sunny", "2-dim"}) {
    for (const char* kind : {"-panorama.png", "-sky.png", "-depth.png"}) {
      const fs::path png = folder / (std::string(prefix) + kind);
      const cv::Mat image = cv::imread(png.string(), cv::IMREAD_UNCHANGED);
      ASSERT_FALSE(image.empty()) << png;
      EXPECT_EQ(image.size(), cv::Size(512, 256)) << png;
      EXPECT_EQ(image.type(), CV_8UC3) << png;
      EXPECT_NE(html_.find("src=\"report/" + png.filename().string() + "\""), std::string::npos)
          << png;
    }
  }
  const cv::Mat bar = cv::imread((folder / "colour-scale.png").string(), cv::IMREAD_UNCHANGED);
  EXPECT_EQ(bar.size(), cv::Size(kColourBarWidth, kColourBarHeight));
  size_t pngs = 0;
  for (const auto& entry : fs::directory_iterator(folder)) pngs += entry.path().extension() == ".png";
  EXPECT_EQ(pngs, 7u) << "three per processed record and the colour scale";
}

TEST_F(SyntheticRun, DepthPictureMatchesTheDepthFile) {
  const cv::Mat coloured =
      cv::imread((caches() / "report" / "1-sunny-depth.png").string(), cv::IMREAD_COLOR);
  cv::Mat bar;
  make_colour_bar(bar);
  EXPECT_EQ(coloured.at<cv::Vec3b>(10, 10), cv::Vec3b(96, 96, 96));  // trimmed
  EXPECT_EQ(coloured.at<cv::Vec3b>(100, 7), cv::Vec3b(96, 96, 96));  // negative
  EXPECT_EQ(coloured.at<cv::Vec3b>(40, 300), bar.at<cv::Vec3b>(0, 0));
  EXPECT_EQ(coloured.at<cv::Vec3b>(255, 300), bar.at<cv::Vec3b>(0, kColourBarWidth - 1));
}

TEST(Report, ImagesJsonOnlyListsRecordsAsNotRunYet) {
  TempFolder tmp;
  const fs::path caches = fs::path(tmp.path()) / "caches";
  fs::create_directories(caches / "images");
  cv::imwrite((caches / "images" / "a.jpg").string(), cv::Mat(8, 16, CV_8UC3, cv::Scalar(1)));
  testing::write_text((caches / "images.json").string(),
                      R"({"images": [{"uuid": "a", "id": 1, "is_main": true},
                                     {"uuid": "<b>", "id": 2, "is_main": true}]})");
  ReportSummary summary;
  std::string error;
  ASSERT_TRUE(write_report(tmp.path(), summary, error)) << error;
  EXPECT_EQ(summary.processed, 0u);
  const std::string html = read_all(caches / "report.html");
  EXPECT_NE(row_of(html, "a").find("outdoor_flag.json has not been written"), std::string::npos);
  EXPECT_NE(row_of(html, "&lt;b&gt;").find("images/&lt;b&gt;.jpg missing"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), html.find("<b>2</b>records")) << "uuid must be escaped";
}

// ---- the program -----------------------------------------------------------

struct ProgramRun {
  int exit_code;
  std::string out, err;
};

ProgramRun run_report(const std::string& folder, const std::string& tmp) {
  const std::string out = tmp + "/stdout.txt", err = tmp + "/stderr.txt";
  const std::string command = std::string("'") + QUARROW_REPORT_EXE + "' '" + folder + "' >'" +
                              out + "' 2>'" + err + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_all(out), read_all(err)};
}

TEST(Program, BadDataFoldersExitWithOne) {
  TempFolder tmp;
  const std::string missing = tmp.path() + "/nowhere";
  ProgramRun run = run_report(missing, tmp.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "Error: folder " + missing + "/caches doesn't exist\n");
  EXPECT_TRUE(run.out.empty());

  const std::string empty = tmp.path() + "/empty";
  fs::create_directories(empty + "/caches");
  run = run_report(empty, tmp.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("Error: neither outdoor_flag.json nor images.json found"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(empty + "/caches/report.html"));

  testing::write_text(empty + "/caches/outdoor_flag.json", "{\"images\": [{]}");
  run = run_report(empty, tmp.path());
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("outdoor_flag.json: not valid JSON"), std::string::npos) << run.err;
}

TEST(Program, PrintsWhereTheReportIs) {
  TempFolder tmp;
  testing::make_synthetic_run(tmp.path());
  const ProgramRun run = run_report(tmp.path(), tmp.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::string expected = tmp.path() + "/caches/report.html";
  EXPECT_EQ(run.out, "Report written to " + expected + " (2 of 6 records processed)\n");
  EXPECT_TRUE(run.err.empty()) << run.err;
}

}  // namespace
}  // namespace quarrow::report
