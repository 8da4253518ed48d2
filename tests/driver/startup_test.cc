// Start-up of the quarrow program: argument checks, the data folder layout
// and the reading of images.json, run through the real binary.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process_runner.h"

namespace quarrow::testing {
namespace {

namespace fs = std::filesystem;

const char kValidJson[] = R"({"images": [{"uuid": "a", "id": 1, "is_main": true}]})";
const char kNotJson[] = "this is not json";
const char kNotJsonMessage[] = "rapidjson internal assertion failure: IsObject()\n";

class StartupTest : public ::testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& arguments, const std::string& cwd = "") {
    return run_process(QUARROW_BINARY, arguments, cwd);
  }

  // <tmp>/data/caches with the listed entries: "images" folder and an
  // images.json of the given text (omitted when null).
  std::string make_data(bool with_images, const char* json) {
    const std::string data = tmp_.path() + "/data";
    fs::create_directories(data + "/caches");
    if (with_images) fs::create_directory(data + "/caches/images");
    if (json != nullptr) write_file(data + "/caches/images.json", json);
    return data;
  }

  void expect_failure(const ProcessResult& result, const std::string& err) {
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
  }

  std::string models() const { return tmp_.path() + "/models"; }

  TempDir tmp_;
};

TEST_F(StartupTest, ArgumentChecks) {
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, "Error: no enough params specified\n"},
      {{"models"}, "Error: no enough params specified\n"},
      {{""}, "Error: no enough params specified\n"},
      {{"", ""}, "Error: no model folder specified\n"},
      {{"", "data"}, "Error: no model folder specified\n"},
      {{"models", ""}, "Error: no data path specified\n"},
      {{"models", "", "extra"}, "Error: no data path specified\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    expect_failure(run(c.arguments, tmp_.path()), c.err);
  }
  EXPECT_TRUE(fs::is_empty(tmp_.path()));
}

TEST_F(StartupTest, MissingDataFolderNamesCaches) {
  const std::string data = tmp_.path() + "/nowhere";
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\ doesn't exist\n");
  EXPECT_FALSE(fs::exists(data));
}

TEST_F(StartupTest, DataFolderWithoutCaches) {
  const std::string data = tmp_.path() + "/data";
  fs::create_directory(data);
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\ doesn't exist\n");
  write_file(data + "/caches", "a file, not a folder");
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\ doesn't exist\n");
}

TEST_F(StartupTest, CachesWithoutImages) {
  const std::string data = make_data(false, kValidJson);
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\images\\ doesn't exist\n");
  EXPECT_FALSE(fs::exists(data + "/caches/segm"));
  EXPECT_FALSE(fs::exists(data + "/caches/depthmap"));
}

TEST_F(StartupTest, SegmPresentAsFile) {
  const std::string data = make_data(true, kValidJson);
  write_file(data + "/caches/segm", "");
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\segm\\can't be created\n");
  EXPECT_FALSE(fs::exists(data + "/caches/depthmap"));
}

TEST_F(StartupTest, DepthmapPresentAsFileAfterSegmCreated) {
  const std::string data = make_data(true, kValidJson);
  write_file(data + "/caches/depthmap", "");
  expect_failure(run({models(), data}),
                 "Error: folder " + backslashed(data) + "\\caches\\depthmap\\can't be created\n");
  EXPECT_TRUE(fs::is_directory(data + "/caches/segm"));
}

TEST_F(StartupTest, MissingImagesJsonAfterOutputFoldersCreated) {
  const std::string data = make_data(true, nullptr);
  const std::string message =
      "Error: file " + backslashed(data) + "\\caches\\images.json doesn't exist\n";
  expect_failure(run({models(), data}), message);
  EXPECT_TRUE(fs::is_directory(data + "/caches/segm"));
  EXPECT_TRUE(fs::is_directory(data + "/caches/depthmap"));

  // A folder in its place is no file either; existing output folders are kept.
  fs::create_directory(data + "/caches/images.json");
  write_file(data + "/caches/segm/keep.png", "x");
  expect_failure(run({models(), data}), message);
  EXPECT_EQ(read_file(data + "/caches/segm/keep.png"), "x");
}

TEST_F(StartupTest, ImagesJsonMayBeAFifo) {
  const std::string data = make_data(true, nullptr);
  const std::string fifo = data + "/caches/images.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A child feeds the pipe once the program opens it for reading.
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    write_file(fifo, kNotJson);
    ::_exit(0);
  }
  const ProcessResult result = run({models(), data});
  if (::waitpid(writer, nullptr, WNOHANG) == 0) {
    ::kill(writer, SIGKILL);  // the program never opened the pipe
    ::waitpid(writer, nullptr, 0);
  }
  // Passing the file test, the pipe is read like a file.
  expect_failure(result, kNotJsonMessage);
}

TEST_F(StartupTest, DataFolderSpellings) {
  make_data(true, nullptr);
  struct Case {
    std::string data_argument;
    std::string cwd;
    std::string shown;  // how the images.json path is printed
  };
  const std::string data = tmp_.path() + "/data";
  const std::vector<Case> cases = {
      {data, "", backslashed(data)},
      {data + "/", "", backslashed(data)},
      {data + "\\", "", backslashed(data)},
      {backslashed(data), "", backslashed(data)},
      {tmp_.path() + "/./data/../data//", "", backslashed(data)},
      {"data", tmp_.path(), "data"},
      {"./data/", tmp_.path(), "data"},
      {".\\data", tmp_.path(), "data"},
      {"../data", tmp_.path() + "/data", "..\\data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data_argument);
    expect_failure(run({models(), c.data_argument}, c.cwd),
                   "Error: file " + c.shown + "\\caches\\images.json doesn't exist\n");
  }
  EXPECT_TRUE(fs::is_directory(data + "/caches/segm"));
  EXPECT_TRUE(fs::is_directory(data + "/caches/depthmap"));
  EXPECT_FALSE(fs::exists(tmp_.path() + "/data/data"));
}

TEST_F(StartupTest, BadImagesJsonEndsBeforeAnyModel) {
  struct Case {
    std::string json;
    std::string err;
  };
  const std::vector<Case> cases = {
      {kNotJson, kNotJsonMessage},
      {"", kNotJsonMessage},
      {R"({"pictures": []})", "JSON Parsing failed - provided NVP (images) not found\n"},
      {R"({"images": [{"uuid": "a", "id": 1}]})",
       "JSON Parsing failed - provided NVP (is_main) not found\n"},
      {R"({"images": [{"uuid": "a", "id": -3, "is_main": true}]})",
       "rapidjson internal assertion failure: data_.f.flags & kUint64Flag\n"},
      {R"({"images": {}})", "rapidjson internal assertion failure: IsArray()\n"},
  };
  const std::string data = make_data(true, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    write_file(data + "/caches/images.json", c.json);
    // The model folder does not exist: the run must end before any load.
    expect_failure(run({models(), data, "ignored"}), c.err);
    EXPECT_FALSE(fs::exists(data + "/caches/outdoor_flag.json"));
  }
}

}  // namespace
}  // namespace quarrow::testing
