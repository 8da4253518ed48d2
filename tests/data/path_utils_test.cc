#include "data/path_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quarrow {
namespace {

struct Case {
  std::string input;
  std::string expected;
};

std::string render(const std::string& text) {
  ParsedPath path;
  EXPECT_TRUE(path.parse(text));
  return path.to_string();
}

TEST(ParsedPathTest, ParseThenRender) {
  // No drive letters on this platform: a rooted text keeps an empty root and
  // a drive-relative text is taken from that drive's root.
  const std::vector<Case> cases = {
      {"D:\\data\\", "D:\\data\\"},
      {"D:/data//x/./y/../z", "D:\\data\\x\\z\\"},
      {"C:foo", "C:\\foo\\"},
      {"C:", "C:\\"},
      {"c:\\x", "c:\\x\\"},
      {"\\data", "\\data\\"},
      {"/data", "\\data\\"},
      {"/", "\\"},
      {"\\\\srv\\share\\dir", "\\\\srv\\share\\dir\\"},
      {"//srv/share", "//srv\\share\\"},
      {"\\\\srv", "\\\\srv\\"},
      {"data\\sub", "data\\sub\\"},
      {"data/sub/", "data\\sub\\"},
      {"..\\..\\x", "..\\..\\x\\"},
      {"a\\..\\..\\b", "..\\b\\"},
      {"C:\\..\\x", "C:\\x\\"},
      {"/a/../../b", "\\b\\"},
      {"", ".\\"},
      {".", ".\\"},
      {"a/..", ".\\"},
      {"a/.../b", "a\\...\\b\\"},
      {"1:foo", "1:foo\\"},
      {"/tmp/q x/data", "\\tmp\\q x\\data\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(render(c.input), c.expected) << "input: " << c.input;
  }
}

TEST(ParsedPathTest, TrailingSeparatorAddsNoFolder) {
  for (const std::string text : {"D:\\data", "/tmp/data", "data\\sub", "..\\x"}) {
    EXPECT_EQ(render(text), render(text + "\\")) << text;
    EXPECT_EQ(render(text), render(text + "/")) << text;
  }
}

TEST(ParsedPathTest, Fields) {
  ParsedPath path;
  path.parse("C:foo\\bar");
  EXPECT_FALSE(path.relative);
  EXPECT_EQ(path.root, "C:");
  EXPECT_EQ(path.segments, (std::vector<std::string>{"foo", "bar"}));
  EXPECT_TRUE(path.leaf_name.empty());

  path.parse("/data//x");
  EXPECT_FALSE(path.relative);
  EXPECT_EQ(path.root, "");
  EXPECT_EQ(path.segments, (std::vector<std::string>{"data", "x"}));

  path.parse("\\\\srv\\share");
  EXPECT_FALSE(path.relative);
  EXPECT_EQ(path.root, "\\\\srv");
  EXPECT_EQ(path.segments, (std::vector<std::string>{"share"}));

  path.parse("../../a/./b/..");
  EXPECT_TRUE(path.relative);
  EXPECT_EQ(path.root, "");
  EXPECT_EQ(path.segments, (std::vector<std::string>{"..", "..", "a"}));
}

TEST(ParsedPathTest, ParseReplacesEarlierContent) {
  ParsedPath path;
  path.parse("D:\\a\\b");
  path.leaf_name = "x.txt";
  path.parse("c");
  EXPECT_TRUE(path.relative);
  EXPECT_EQ(path.root, "");
  EXPECT_EQ(path.segments, std::vector<std::string>{"c"});
  EXPECT_TRUE(path.leaf_name.empty());
}

TEST(ParsedPathTest, LeafNameFollowsTheFolder) {
  ParsedPath path;
  path.parse("/data/x");
  path.leaf_name = "a.json";
  EXPECT_EQ(path.to_string(), "\\data\\x\\a.json");
  path.parse("");
  path.leaf_name = "a.json";
  EXPECT_EQ(path.to_string(), ".\\a.json");
}

TEST(ParsedPathTest, DefaultAndNormalizeOnAppendedSegments) {
  ParsedPath path;
  EXPECT_FALSE(path.relative);
  EXPECT_EQ(path.to_string(), "\\");
  path.relative = true;
  path.segments = {"", "a", ".", "b", "..", "..", "..", "c"};
  EXPECT_TRUE(path.normalize());
  EXPECT_EQ(path.segments, (std::vector<std::string>{"..", "c"}));
  path.relative = false;
  path.segments = {"..", "x", "..", ".."};
  path.normalize();
  EXPECT_TRUE(path.segments.empty());
}

TEST(JoinTest, JoinDir) {
  const std::vector<std::vector<std::string>> cases = {
      {"D:\\data", "caches", "D:\\data\\caches\\"},
      {"D:\\data\\", "caches", "D:\\data\\caches\\"},
      {"/tmp/data/", "caches", "\\tmp\\data\\caches\\"},
      {"data", "caches", "data\\caches\\"},
      {"data\\caches\\", "images", "data\\caches\\images\\"},
      {"", "caches", "caches\\"},
      {"a", "..", "a\\..\\"},  // the appended name is not normalised
  };
  for (const auto& c : cases) {
    EXPECT_EQ(join_dir(c[0], c[1]), c[2]) << c[0] << " + " << c[1];
  }
}

TEST(JoinTest, JoinPathWithExtensionFileStem) {
  const std::vector<std::vector<std::string>> join_cases = {
      {"D:\\x\\", "y", "D:\\x\\y"}, {"D:\\x/", "y", "D:\\x/y"},
      {"", "y", "y"},               {"M", "sky_segm_model", "M\\sky_segm_model"},
      {"M/", "sky_segm_model", "M/sky_segm_model"},
      {"a//b", "c", "a//b\\c"},
  };
  for (const auto& c : join_cases) {
    EXPECT_EQ(join_path(c[0], c[1]), c[2]) << c[0] << " + " << c[1];
  }
  const std::vector<std::vector<std::string>> extension_cases = {
      {"images", "json", "images.json"}, {"a", ".png", "a.png"},
      {"a", "", "a"},                    {"a.b", ".jpg", "a.b.jpg"},
      {"", "bin", ".bin"},
  };
  for (const auto& c : extension_cases) {
    EXPECT_EQ(with_extension(c[0], c[1]), c[2]) << c[0] << " + " << c[1];
  }
  EXPECT_EQ(join_path_ext("\\d\\caches\\", "images", "json"), "\\d\\caches\\images.json");
  EXPECT_EQ(join_path_ext("seg", "a3f1_sky_segm", ".png"), "seg\\a3f1_sky_segm.png");

  const std::vector<Case> stem_cases = {
      {"D:\\x\\a.b.jpg", "a.b"}, {"D:\\x\\.cfg", ".cfg"}, {"D:\\x\\", ""},
      {"name", "name"},          {"/x/y/a3f1.jpg", "a3f1"}, {"x.d/name", "name"},
      {"a.", "a"},               {"", ""},
  };
  for (const Case& c : stem_cases) {
    EXPECT_EQ(file_stem(c.input), c.expected) << c.input;
  }
}

TEST(NativePathTest, BackslashBecomesSlash) {
  EXPECT_EQ(native_path("\\tmp\\x\\caches\\"), "/tmp/x/caches/");
  EXPECT_EQ(native_path("data\\caches/images.json"), "data/caches/images.json");
  EXPECT_EQ(native_path(""), "");
}

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarrow_paths_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The same location as rendered by the toolkit (backslashes).
  static std::string rendered(const std::string& native) {
    std::string text = native;
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  std::string dir_;
};

TEST_F(FileSystemTest, DirectoryAndFileQueries) {
  const std::string file = dir_ + "/plain.txt";
  std::ofstream(file) << "x";
  const std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string missing = dir_ + "/missing";

  for (const std::string& text : {dir_, rendered(dir_)}) {
    EXPECT_TRUE(is_directory(text));
    EXPECT_TRUE(is_directory(text + "/"));
    EXPECT_TRUE(is_directory(text + "\\"));
    EXPECT_FALSE(is_file(text));
    EXPECT_FALSE(is_file(text + "\\"));
  }
  for (const std::string& text : {file, rendered(file)}) {
    EXPECT_TRUE(is_file(text));
    EXPECT_TRUE(is_file(text + "\\"));
    EXPECT_TRUE(is_file(text + "/"));
    EXPECT_FALSE(is_directory(text));
  }
  EXPECT_TRUE(is_file(fifo));
  EXPECT_FALSE(is_directory(fifo));
  EXPECT_FALSE(is_file(missing));
  EXPECT_FALSE(is_directory(missing));
  EXPECT_FALSE(is_file(""));
  EXPECT_FALSE(is_directory(""));
  // Only one trailing separator is ignored.
  EXPECT_FALSE(is_file(file + "//"));
}

TEST_F(FileSystemTest, MakeDirectory) {
  const std::string folder = join_dir(dir_, "segm");
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_TRUE(make_directory(folder));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/segm"));
  EXPECT_FALSE(make_directory(folder));  // exists already
  EXPECT_FALSE(make_directory(dir_ + "/no/parent"));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/no"));
  std::ofstream(dir_ + "/taken") << "x";
  EXPECT_FALSE(make_directory(dir_ + "/taken"));
}

}  // namespace
}  // namespace quarrow
