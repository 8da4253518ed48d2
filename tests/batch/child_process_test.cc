// Starting child processes: the environment they get on top of ours, their
// streams and CPUs, and a program that cannot be run.
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"

namespace quarrow::batch {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MergedEnvironment, ReplacesInPlaceAppendsAndLetsTheLaterValueWin) {
  char a[] = "OMP_NUM_THREADS=8", b[] = "OMP=x", c[] = "HOME=/root", d[] = "EMPTY=";
  char* base[] = {a, b, c, d, nullptr};
  EXPECT_EQ(merged_environment(base, {{"OMP", "y"},            // not OMP_NUM_THREADS
                                      {"OMP_NUM_THREADS", "1"},  // replaced where it stood
                                      {"NEW", "a=b c"},          // appended, '=' in the value kept
                                      {"NEW", "2"},              // the later one wins
                                      {"EMPTY", "e"}}),
            (std::vector<std::string>{"OMP_NUM_THREADS=1", "OMP=y", "HOME=/root", "EMPTY=e", "NEW=2"}));
  EXPECT_EQ(merged_environment(base, {}),
            (std::vector<std::string>{"OMP_NUM_THREADS=8", "OMP=x", "HOME=/root", "EMPTY="}));
  EXPECT_EQ(merged_environment(nullptr, {{"A", "1"}}), std::vector<std::string>{"A=1"});
}

class StartChild : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quarrow_child_process_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs `sh -c script` (looked up in PATH) and returns its exit code.
  int run(const std::string& script, ChildRequest request) {
    request.program = "sh";
    request.arguments = {"-c", script};
    request.stdout_path = (dir_ / "out").string();
    request.stderr_path = (dir_ / "err").string();
    std::string error;
    const pid_t pid = start_child(request, error);
    EXPECT_GT(pid, 0) << error;
    if (pid <= 0) return -1;
    const int status = wait_child(pid);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status);
  }
  std::string out() const { return read_file(dir_ / "out"); }

  fs::path dir_;
};

TEST_F(StartChild, ChildSeesItsVariablesOnTopOfOursAndOursStayUnchanged) {
  ::setenv("QUARROW_CHILD_KEPT", "kept", 1);
  ::setenv("QUARROW_CHILD_REPLACED", "old", 1);
  ChildRequest request;
  request.environment = {{"QUARROW_CHILD_REPLACED", "new value"}, {"QUARROW_CHILD_ADDED", "a=b"}};
  EXPECT_EQ(run("printf '%s|%s|%s' \"$QUARROW_CHILD_KEPT\" \"$QUARROW_CHILD_REPLACED\" "
                "\"$QUARROW_CHILD_ADDED\"",
                request),
            0);
  EXPECT_EQ(out(), "kept|new value|a=b");
  EXPECT_STREQ(std::getenv("QUARROW_CHILD_REPLACED"), "old");
  EXPECT_EQ(std::getenv("QUARROW_CHILD_ADDED"), nullptr);
  ::unsetenv("QUARROW_CHILD_KEPT");
  ::unsetenv("QUARROW_CHILD_REPLACED");
}

TEST_F(StartChild, RunsOnTheGivenCpuAndReadsNothingFromStandardInput) {
  const std::vector<int> cpus = allowed_cpus();
  ChildRequest request;
  request.cpus = {cpus.back()};
  EXPECT_EQ(run("grep '^Cpus_allowed_list:' /proc/self/status | tr -d ' \\t'; cat", request), 0);
  EXPECT_EQ(out(), "Cpus_allowed_list:" + std::to_string(cpus.back()) + "\n");
}

TEST_F(StartChild, ProgramThatCannotBeRunEndsWith127) {
  ChildRequest request;
  request.program = (dir_ / "no such program").string();
  std::string error;
  const pid_t pid = start_child(request, error);
  ASSERT_GT(pid, 0) << error;
  const int status = wait_child(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 127);
}

TEST_F(StartChild, UnwritableOutputIsReportedBeforeAnyChildStarts) {
  ChildRequest request;
  request.program = "true";
  request.stdout_path = (dir_ / "missing folder" / "out").string();
  std::string error;
  EXPECT_EQ(start_child(request, error), -1);
  EXPECT_NE(error.find("missing folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace quarrow::batch
