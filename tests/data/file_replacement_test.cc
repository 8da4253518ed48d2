#include "data/file_replacement.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "small_tmpfs.h"

namespace quarrow {
namespace {

std::string read_text(const std::string& path) {
  std::ifstream input(path, std::ios::binary);
  std::ostringstream text;
  text << input.rdbuf();
  return text.str();
}

bool write_text(const std::string& path, const std::string& text) {
  std::ofstream output(path, std::ios::binary);
  output << text;
  output.close();
  return !output.fail();
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FileReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quarrow_replace_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST(ReplacementNameTest, KeepsTheExtensionLast) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"d/a.png", "d/a.tmp-x.png"},
      {"d/outdoor_flag.json", "d/outdoor_flag.tmp-x.json"},
      {"a.b.bin", "a.b.tmp-x.bin"},
      {"d/a", "d/a.tmp-x"},
      {"d.e/a", "d.e/a.tmp-x"},  // a dot in the folder is no extension
      {"d/.cfg", "d/.cfg.tmp-x"},
  };
  for (const Case& c : cases) EXPECT_EQ(replacement_name(c.path, "x"), c.name) << c.path;
}

TEST_F(FileReplacementTest, NewFileAppearsWithNothingElse) {
  std::string written_to;
  ASSERT_TRUE(replace_file(file("a.png"), [&](const std::string& name) {
    written_to = name;
    return write_text(name, "new");
  }));
  EXPECT_EQ(read_text(file("a.png")), "new");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.png"});
  // The content went to a temporary name beside the file, extension last.
  EXPECT_EQ(written_to.rfind(dir_ + "/a.tmp-", 0), 0u) << written_to;
  EXPECT_EQ(written_to.substr(written_to.size() - 4), ".png");
}

TEST_F(FileReplacementTest, ExistingFileIsReplacedWhole) {
  ASSERT_TRUE(write_text(file("a.bin"), "old content, longer than the new"));
  ASSERT_TRUE(replace_file(file("a.bin"),
                           [](const std::string& name) { return write_text(name, "new"); }));
  EXPECT_EQ(read_text(file("a.bin")), "new");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.bin"});
}

TEST_F(FileReplacementTest, FailedWriteKeepsThePreviousFile) {
  ASSERT_TRUE(write_text(file("a.json"), "old"));
  EXPECT_FALSE(replace_file(file("a.json"), [](const std::string& name) {
    write_text(name, "half");
    return false;
  }));
  EXPECT_EQ(read_text(file("a.json")), "old");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.json"});
}

TEST_F(FileReplacementTest, FailedWriteOfANewFileLeavesNoFile) {
  EXPECT_FALSE(replace_file(file("a.json"), [](const std::string&) { return false; }));
  EXPECT_TRUE(names_in(dir_).empty());
}

TEST_F(FileReplacementTest, ThrowingWriteKeepsThePreviousFileAndPassesTheErrorOn) {
  ASSERT_TRUE(write_text(file("a.json"), "old"));
  EXPECT_THROW(replace_file(file("a.json"),
                            [](const std::string& name) -> bool {
                              write_text(name, "half");
                              throw std::runtime_error("writer failed");
                            }),
               std::runtime_error);
  EXPECT_EQ(read_text(file("a.json")), "old");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.json"});
}

TEST_F(FileReplacementTest, MissingFolderFailsWithoutWriting) {
  bool called = false;
  EXPECT_FALSE(replace_file(file("missing/a.json"), [&](const std::string&) {
    called = true;
    return true;
  }));
  EXPECT_FALSE(called);
}

TEST_F(FileReplacementTest, ReplacedFileKeepsItsPermissions) {
  ASSERT_TRUE(write_text(file("a.bin"), "old"));
  ASSERT_EQ(::chmod(file("a.bin").c_str(), 0640), 0);
  ASSERT_TRUE(replace_file(file("a.bin"),
                           [](const std::string& name) { return write_text(name, "new"); }));
  struct stat status {};
  ASSERT_EQ(::stat(file("a.bin").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(FileReplacementTest, NewFileGetsTheModeOfAPlainNewFile) {
  ASSERT_TRUE(write_text(file("plain"), ""));
  ASSERT_TRUE(replace_file(file("a.bin"),
                           [](const std::string& name) { return write_text(name, "new"); }));
  struct stat plain {};
  struct stat replaced {};
  ASSERT_EQ(::stat(file("plain").c_str(), &plain), 0);
  ASSERT_EQ(::stat(file("a.bin").c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_mode & 07777, plain.st_mode & 07777);
}

TEST_F(FileReplacementTest, LinkedFileIsReplacedThroughTheLink) {
  ASSERT_EQ(::mkdir(file("real").c_str(), 0755), 0);
  ASSERT_TRUE(write_text(file("real/a.json"), "old"));
  ASSERT_EQ(::symlink("real/a.json", file("link.json").c_str()), 0);
  ASSERT_TRUE(replace_file(file("link.json"),
                           [](const std::string& name) { return write_text(name, "new"); }));
  EXPECT_TRUE(std::filesystem::is_symlink(file("link.json")));
  EXPECT_EQ(read_text(file("real/a.json")), "new");
  EXPECT_EQ(names_in(file("real")), std::vector<std::string>{"a.json"});
}

// Root may write any file, so as root the attempt runs in a child process
// that has given up root for the "nobody" user.
TEST_F(FileReplacementTest, FileThatMayNotBeWrittenIsLeftAlone) {
  ASSERT_TRUE(write_text(file("a.json"), "old"));
  ASSERT_EQ(::chmod(file("a.json").c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);  // the folder itself stays writable
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    const bool replaced = replace_file(
        file("a.json"), [](const std::string& name) { return write_text(name, "new"); });
    ::_exit(replaced ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 2) << "could not give up root";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a read-only file was replaced";
  EXPECT_EQ(read_text(file("a.json")), "old");
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.json"});
}

TEST_F(FileReplacementTest, DeviceIsWrittenInPlace) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  std::string written_to;
  EXPECT_FALSE(replace_file("/dev/full", [&](const std::string& name) {
    written_to = name;
    return write_text(name, "data");
  }));
  EXPECT_EQ(written_to, "/dev/full");
  struct stat status {};
  ASSERT_EQ(::stat("/dev/full", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST_F(FileReplacementTest, FolderInTheWayFailsAndStaysAFolder) {
  ASSERT_EQ(::mkdir(file("a.json").c_str(), 0755), 0);
  EXPECT_FALSE(replace_file(file("a.json"),
                            [](const std::string& name) { return write_text(name, "new"); }));
  EXPECT_TRUE(std::filesystem::is_directory(file("a.json")));
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"a.json"});
}

TEST(FileReplacementFullDiskTest, FullDiskKeepsThePreviousFileAndLeavesNoTemporary) {
  SmallTmpfs disk(64 * 1024);
  if (!disk.mounted()) GTEST_SKIP() << disk.reason();
  const std::string old_content(1000, 'o');
  ASSERT_TRUE(write_text(disk.file("a.bin"), old_content));
  disk.fill();
  EXPECT_FALSE(replace_file(disk.file("a.bin"), [](const std::string& name) {
    return write_text(name, std::string(20000, 'n'));
  }));
  EXPECT_EQ(read_text(disk.file("a.bin")), old_content);
  EXPECT_EQ(names_in(disk.path()), (std::vector<std::string>{"a.bin", "filler"}));
}

// A writer killed halfway: the temporary file stays behind (nothing can
// remove it), the final name keeps the previous content.
TEST_F(FileReplacementTest, KilledWriterKeepsThePreviousFile) {
  const std::string target = file("a.bin");
  const std::string old_content = "previous result";
  ASSERT_TRUE(write_text(target, old_content));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    ::close(ready[0]);
    replace_file(target, [&](const std::string& name) {
      std::ofstream output(name, std::ios::binary);
      output << std::string(1 << 20, 'n');
      output.flush();
      const char byte = 1;
      if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
      for (;;) ::pause();  // killed here, halfway through its work
      return true;
    });
    ::_exit(3);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // The half-written content is on disk under the temporary name by now.
  ASSERT_EQ(names_in(dir_).size(), 2u);
  ASSERT_EQ(::kill(writer, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(read_text(target), old_content);
  const std::vector<std::string> names = names_in(dir_);
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0], "a.bin");
  EXPECT_EQ(names[1].rfind("a.tmp-", 0), 0u) << names[1];
  EXPECT_EQ(std::filesystem::file_size(file(names[1])), 1u << 20);

  // The leftover does not stand in the way of the next write.
  ASSERT_TRUE(replace_file(target, [](const std::string& name) { return write_text(name, "new"); }));
  EXPECT_EQ(read_text(target), "new");
}

}  // namespace
}  // namespace quarrow
