// The JSON archive header comes first on purpose: included after a plain
// rapidjson header it would leave rapidjson's aborting assertions in place,
// which the malformed-input tests below would catch as a crash.
#include <cereal/archives/json.hpp>

#include "data/image_record.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "small_tmpfs.h"

namespace quarrow {
namespace {

class ImageRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarrow_records_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write_text(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static std::string read_text(const std::string& path) {
    std::ifstream input(path, std::ios::binary);
    std::ostringstream text;
    text << input.rdbuf();
    return text.str();
  }

  std::vector<ImageRecord> read_json(const std::string& text) {
    std::vector<ImageRecord> records;
    read_image_records(write_text("in.json", text), records);
    return records;
  }

  std::string written(std::vector<ImageRecord>& records) {
    const std::string path = dir_ + "/out.json";
    EXPECT_TRUE(write_image_records(path, records));
    return read_text(path);
  }

  std::string dir_;
};

const char kExampleInput[] =
    "{\"images\": [\n"
    "  {\"uuid\": \"a3f1c9e2\", \"id\": 7, \"is_main\": true},\n"
    "  {\"uuid\": \"b7d40a15\", \"id\": 8, \"is_main\": false, \"is_outdoor\": true, "
    "\"note\": \"x\"}\n"
    "]}\n";

const char kExampleOutput[] =
    "{\n"
    "    \"images\": [\n"
    "        {\n"
    "            \"uuid\": \"a3f1c9e2\",\n"
    "            \"id\": 7,\n"
    "            \"is_outdoor\": true,\n"
    "            \"sky_ratio\": 62.5,\n"
    "            \"is_main\": true\n"
    "        },\n"
    "        {\n"
    "            \"uuid\": \"b7d40a15\",\n"
    "            \"id\": 8,\n"
    "            \"is_outdoor\": true,\n"
    "            \"sky_ratio\": 0.0,\n"
    "            \"is_main\": false\n"
    "        }\n"
    "    ]\n"
    "}";

TEST_F(ImageRecordTest, WorkedExample) {
  std::vector<ImageRecord> records = read_json(kExampleInput);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].uuid, "a3f1c9e2");
  EXPECT_EQ(records[0].file_name, "a3f1c9e2.jpg");
  EXPECT_EQ(records[0].id, 7u);
  EXPECT_TRUE(records[0].is_main);
  EXPECT_FALSE(records[0].is_outdoor);
  EXPECT_EQ(records[0].sky_ratio, 0.0f);
  EXPECT_EQ(records[1].file_name, "b7d40a15.jpg");
  EXPECT_EQ(records[1].id, 8u);
  EXPECT_FALSE(records[1].is_main);
  EXPECT_TRUE(records[1].is_outdoor);
  EXPECT_EQ(records[1].sky_ratio, 0.0f);

  records[0].sky_ratio = 62.5f;
  records[0].is_outdoor = true;
  EXPECT_EQ(written(records), kExampleOutput);
}

TEST_F(ImageRecordTest, RewritingWrittenFileGivesSameBytes) {
  std::vector<ImageRecord> records(3);
  records[0].uuid = "q\"uo\\te\n";
  records[0].id = std::numeric_limits<std::uint64_t>::max();
  records[0].sky_ratio = 0.1f;
  records[1].uuid = "\xc3\xa9t\xc3\xa9";
  records[1].is_outdoor = true;
  records[1].sky_ratio = 1e-20f;
  records[2].uuid = "x";
  records[2].is_main = false;
  records[2].sky_ratio = std::numeric_limits<float>::quiet_NaN();
  const std::string first = written(records);

  std::vector<ImageRecord> again;
  read_image_records(dir_ + "/out.json", again);
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[0].uuid, records[0].uuid);
  EXPECT_EQ(again[0].id, records[0].id);
  EXPECT_EQ(again[1].sky_ratio, 1e-20f);
  EXPECT_TRUE(std::isnan(again[2].sky_ratio));
  EXPECT_EQ(written(again), first);
}

TEST_F(ImageRecordTest, ValueFormatting) {
  std::vector<ImageRecord> records(1);
  records[0].uuid = "a\"b\\c\x01\xff";
  records[0].id = 18446744073709551615ull;
  const std::vector<std::pair<float, std::string>> ratios = {
      {0.0f, "0.0"},
      {50.0f, "50.0"},
      {0.1f, "0.10000000149011612"},
      {100.0f, "100.0"},
      {1e-20f, "9.999999682655225e-21"},
      {std::numeric_limits<float>::infinity(), "Infinity"},
      {-std::numeric_limits<float>::infinity(), "-Infinity"},
      {std::numeric_limits<float>::quiet_NaN(), "NaN"},
  };
  for (const auto& [ratio, text] : ratios) {
    records[0].sky_ratio = ratio;
    const std::string json = written(records);
    EXPECT_NE(json.find("\"sky_ratio\": " + text + ",\n"), std::string::npos) << json;
    EXPECT_NE(json.find("\"uuid\": \"a\\\"b\\\\c\\u0001\xff\",\n"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"id\": 18446744073709551615,\n"), std::string::npos) << json;
  }
}

TEST_F(ImageRecordTest, EmptyListIsThreeLines) {
  std::vector<ImageRecord> records;
  EXPECT_EQ(written(records), "{\n    \"images\": []\n}");
}

// The input list the tools write reads back through both readers' entry
// points: from a file and from a stream, with awkward uuids intact and the
// members it leaves out at their defaults.
TEST_F(ImageRecordTest, InputListReadsBackFromFileAndStream) {
  std::vector<ImageRecord> list(4);
  list[0].uuid = "plain";
  list[0].id = 1;
  list[1].uuid = "quote\"and\\backslash";
  list[1].id = std::numeric_limits<std::uint64_t>::max();
  list[1].is_main = false;
  list[2].uuid = "tab\tand\x01" "control";
  list[2].id = 0;
  list[3].uuid = "caf\xc3\xa9";  // UTF-8 passes as it is
  list[3].id = 42;
  for (ImageRecord& record : list) {
    record.is_outdoor = true;  // never written into an input list
    record.sky_ratio = 9.0f;
  }
  const std::string text = image_list_json_text(list);

  std::vector<ImageRecord> from_stream;
  std::istringstream input(text);
  ASSERT_NO_THROW(read_image_records(input, from_stream)) << text;
  std::vector<ImageRecord> from_file = read_json(text);
  for (const std::vector<ImageRecord>* read : {&from_stream, &from_file}) {
    ASSERT_EQ(read->size(), list.size()) << text;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ((*read)[i].uuid, list[i].uuid) << i;
      EXPECT_EQ((*read)[i].id, list[i].id) << i;
      EXPECT_EQ((*read)[i].is_main, list[i].is_main) << i;
      EXPECT_FALSE((*read)[i].is_outdoor) << i;
      EXPECT_EQ((*read)[i].sky_ratio, 0.0f) << i;
      EXPECT_EQ((*read)[i].file_name, list[i].uuid + ".jpg") << i;
    }
  }
  // One record per line between the opening and closing lines.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(list.size()) + 2);
}

TEST_F(ImageRecordTest, EmptyInputListReadsAsNoRecords) {
  const std::string text = image_list_json_text({});
  EXPECT_EQ(text, "{\"images\": [\n]}\n");
  std::istringstream input(text);
  std::vector<ImageRecord> records;
  ASSERT_NO_THROW(read_image_records(input, records));
  EXPECT_TRUE(records.empty());
}

// A stream reader fails like the file reader: a broken document raises.
TEST_F(ImageRecordTest, StreamReadRaisesOnBrokenDocuments) {
  for (const char* text : {"", "{\"images\": [", "{\"images\": [{\"uuid\": \"a\"}]}"}) {
    std::istringstream input(text);
    std::vector<ImageRecord> records;
    EXPECT_THROW(read_image_records(input, records), cereal::Exception) << text;
  }
}

TEST_F(ImageRecordTest, WritingSetsFileNameAndReplacesFile) {
  write_text("out.json", std::string(4000, 'z'));
  std::vector<ImageRecord> records(1);
  records[0].uuid = "a.b";
  records[0].file_name = "stale";
  const std::string json = written(records);
  EXPECT_EQ(records[0].file_name, "a.b.jpg");
  EXPECT_EQ(json.find("file_name"), std::string::npos);
  EXPECT_EQ(json.find('z'), std::string::npos);
  EXPECT_EQ(json.back(), '}');
}

TEST_F(ImageRecordTest, ShortPassConsequences) {
  struct Case {
    const char* record;
    bool is_outdoor;
    float sky_ratio;
  };
  const std::vector<Case> cases = {
      // The full pass stops at the missing "is_outdoor" before "sky_ratio".
      {R"({"uuid": "u", "id": 1, "is_main": true, "sky_ratio": 40})", false, 0.0f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": 1, "sky_ratio": 40})",
       false, 0.0f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": true})", true, 0.0f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": true, "sky_ratio": "9"})",
       true, 0.0f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": true, "sky_ratio": 40})",
       true, 40.0f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": false, "sky_ratio": 12.25})",
       false, 12.25f},
      // Member order is free; unknown members are ignored.
      {R"({"sky_ratio": 75.5, "x": [1], "is_main": true, "is_outdoor": true, "id": 1, "uuid": "u"})",
       true, 75.5f},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": true, "sky_ratio": Infinity})",
       true, std::numeric_limits<float>::infinity()},
      {R"({"uuid": "u", "id": 1, "is_main": true, "is_outdoor": true, "sky_ratio": -Infinity})",
       true, -std::numeric_limits<float>::infinity()},
  };
  for (const Case& c : cases) {
    const std::vector<ImageRecord> records =
        read_json(std::string("{\"images\": [") + c.record + "]}");
    ASSERT_EQ(records.size(), 1u) << c.record;
    EXPECT_EQ(records[0].uuid, "u");
    EXPECT_EQ(records[0].file_name, "u.jpg");
    EXPECT_EQ(records[0].id, 1u);
    EXPECT_TRUE(records[0].is_main);
    EXPECT_EQ(records[0].is_outdoor, c.is_outdoor) << c.record;
    EXPECT_EQ(records[0].sky_ratio, c.sky_ratio) << c.record;
  }
  const std::vector<ImageRecord> nan = read_json(
      R"({"images": [{"uuid": "u", "id": 1, "is_main": false, "is_outdoor": true, "sky_ratio": NaN}]})");
  ASSERT_EQ(nan.size(), 1u);
  EXPECT_TRUE(std::isnan(nan[0].sky_ratio));
  EXPECT_FALSE(nan[0].is_main);
}

TEST_F(ImageRecordTest, UuidStopsAtFirstNul) {
  const std::vector<ImageRecord> records =
      read_json(R"({"images": [{"uuid": "ab\u0000cd", "id": 0, "is_main": true}]})");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].uuid, "ab");
  EXPECT_EQ(records[0].file_name, "ab.jpg");
}

TEST_F(ImageRecordTest, EmptyArrayAndRootLayout) {
  EXPECT_TRUE(read_json(R"({"images": []})").empty());
  EXPECT_TRUE(read_json(R"({"other": 1, "images": []})").empty());
}

struct ErrorCase {
  std::string text;
  std::string message;
  bool from_json_layer;  // raised as cereal::RapidJSONException
};

std::string records_of(const std::string& record) { return "{\"images\": [" + record + "]}"; }

const std::string kNotFound = "JSON Parsing failed - provided NVP (";
const std::string kAssert = "rapidjson internal assertion failure: ";

TEST_F(ImageRecordTest, ReadErrors) {
  const std::vector<ErrorCase> cases = {
      {R"({"pictures": []})", kNotFound + "images) not found", false},
      {R"([{"uuid": "u"}])", kNotFound + "images) not found", false},
      {records_of(R"({"id": 1, "is_main": true})"), kNotFound + "uuid) not found", false},
      {records_of(R"({"uuid": "u", "is_main": true})"), kNotFound + "id) not found", false},
      {records_of(R"({"uuid": "u", "id": 1})"), kNotFound + "is_main) not found", false},
      {records_of(R"({"uuid": "u", "id": 1, "is_outdoor": true, "sky_ratio": 2})"),
       kNotFound + "is_main) not found", false},
      {records_of(R"(["u", 1, true])"), kNotFound + "uuid) not found", false},
      {records_of(R"({"uuid": 5, "id": 1, "is_main": true})"), kAssert + "IsString()", true},
      {records_of(R"({"uuid": "u", "id": -1, "is_main": true})"),
       kAssert + "data_.f.flags & kUint64Flag", true},
      {records_of(R"({"uuid": "u", "id": 1.5, "is_main": true})"),
       kAssert + "data_.f.flags & kUint64Flag", true},
      {records_of(R"({"uuid": "u", "id": 18446744073709551616, "is_main": true})"),
       kAssert + "data_.f.flags & kUint64Flag", true},
      {records_of(R"({"uuid": "u", "id": "1", "is_main": true})"),
       kAssert + "data_.f.flags & kUint64Flag", true},
      {records_of(R"({"uuid": "u", "id": 1, "is_main": 1})"), kAssert + "IsBool()", true},
      {R"({"images": {"uuid": "u", "id": 1, "is_main": true}})", kAssert + "IsArray()", true},
      {R"({"images": "x"})", kAssert + "IsObject()", true},
      {R"({"images": null})", kAssert + "IsObject()", true},
      {records_of("17"), kAssert + "IsObject()", true},
      {records_of(R"({"uuid": "u", "id": 1, "is_main": true}, true)"), kAssert + "IsObject()",
       true},
      {"", kAssert + "IsObject()", true},
      {"not json", kAssert + "IsObject()", true},
      {R"({"images": [)", kAssert + "IsObject()", true},
      {"42", kAssert + "IsObject()", true},
      {R"("text")", kAssert + "IsObject()", true},
  };
  for (const ErrorCase& c : cases) {
    std::vector<ImageRecord> records;
    try {
      read_image_records(write_text("bad.json", c.text), records);
      ADD_FAILURE() << "no error for: " << c.text;
    } catch (const cereal::RapidJSONException& error) {
      EXPECT_TRUE(c.from_json_layer) << c.text;
      EXPECT_EQ(error.what(), c.message) << c.text;
    } catch (const cereal::Exception& error) {
      EXPECT_FALSE(c.from_json_layer) << c.text;
      EXPECT_EQ(error.what(), c.message) << c.text;
    }
  }
}

TEST_F(ImageRecordTest, UnreadableFileReadsAsNoObject) {
  for (const std::string& path : {dir_ + "/missing.json", dir_}) {
    std::vector<ImageRecord> records;
    try {
      read_image_records(path, records);
      ADD_FAILURE() << "no error for " << path;
    } catch (const cereal::RapidJSONException& error) {
      EXPECT_EQ(error.what(), kAssert + "IsObject()");
    }
  }
}

TEST_F(ImageRecordTest, UnwritableFileIsReported) {
  std::vector<ImageRecord> records(1);
  records[0].uuid = "u";
  const std::string path = dir_ + "\\missing\\out.json";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(write_image_records(path, records));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: file " + path + " can't be written\n");
}

TEST_F(ImageRecordTest, FailedWriteIsReported) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  std::vector<ImageRecord> records(1);
  records[0].uuid = "u";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(write_image_records("/dev/full", records));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: file /dev/full can't be written\n");
}

// A full disk used to leave whatever part of outdoor_flag.json had been
// written; now the previous file survives whole.
TEST_F(ImageRecordTest, FullDiskKeepsThePreviousFile) {
  SmallTmpfs disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.reason();
  const std::string path = disk.file("outdoor_flag.json");
  std::vector<ImageRecord> records(1);
  records[0].uuid = "before";
  ASSERT_TRUE(write_image_records(path, records));
  const std::string before = read_text(path);
  disk.fill();

  records.assign(500, ImageRecord());
  for (std::size_t i = 0; i < records.size(); ++i) records[i].uuid = "after" + std::to_string(i);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(write_image_records(path, records));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: file " + path + " can't be written\n");
  EXPECT_EQ(read_text(path), before);
  const std::filesystem::directory_iterator entries(disk.path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 2) << "a temporary file was left behind";
}

}  // namespace
}  // namespace quarrow
