// Whole sharded runs of the real quarrow-batch and quarrow programs, on
// writer-made test models, against one quarrow run over the same folder:
// results byte for byte, exit codes, logs, the CPU share of each process,
// and a shard killed in the middle, run again alone and merged.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "batch_fixture.h"
#include "process_runner.h"
#include "test_models.h"
#include "work_layout.h"

namespace quarrow::testing {
namespace {

namespace fs = std::filesystem;

std::string shard_name(std::size_t index) { return batch::WorkLayout::shard_name(index); }

class BatchRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    models_dir_ = std::make_unique<TempDir>();
    ASSERT_TRUE(qsm::write_model_folder(models()).is_ok());
    // One quarrow run over the whole folder: what every sharded run must equal.
    reference_ = models_dir_->path() + "/reference";
    records_ = make_mixed_data_folder(reference_, 14);
    reference_result_ = run_process(QUARROW_BINARY, {models(), reference_});
  }
  static void TearDownTestSuite() { models_dir_.reset(); }
  static std::string models() { return models_dir_->path() + "/models"; }

  std::string fresh_copy(const std::string& name) {
    const std::string data = tmp_.path() + "/" + name;
    copy_inputs(reference_, data);
    return data;
  }

  static ProcessResult batch(const std::vector<std::string>& arguments) {
    return run_process(QUARROW_BATCH_BINARY, arguments);
  }

  static std::unique_ptr<TempDir> models_dir_;
  static std::string reference_;
  static int records_;
  static ProcessResult reference_result_;
  TempDir tmp_;
};

std::unique_ptr<TempDir> BatchRunTest::models_dir_;
std::string BatchRunTest::reference_;
int BatchRunTest::records_ = 0;
ProcessResult BatchRunTest::reference_result_;

TEST_F(BatchRunTest, ReferenceRunMeetsEveryKindOfRecord) {
  // The undecodable image makes one run end with 1 after writing everything.
  EXPECT_EQ(reference_result_.exit_code, 1);
  EXPECT_NE(reference_result_.err.find("broken.jpg can't be decoded"), std::string::npos)
      << reference_result_.err;
  // 14 panoramas + "dup" (pano1 twice and "sub/dup" share file names with others).
  EXPECT_EQ(file_count(reference_, "segm"), 15);
  EXPECT_EQ(file_count(reference_, "depthmap"), 15);
  const std::string flag = read_file(reference_ + "/caches/outdoor_flag.json");
  EXPECT_NE(flag.find("\"is_outdoor\": true"), std::string::npos);
  EXPECT_NE(flag.find("\"sky_ratio\": 77.25"), std::string::npos);  // non-main kept as read
}

TEST_F(BatchRunTest, LocalRunsEqualOneRun) {
  struct Case {
    const char* shards;
    const char* jobs;
    std::size_t shards_made;
  };
  // 40 shards: there are only 16 groups of records (14 panoramas, the
  // undecodable file, "sub/dup" with "dup"), so 16 shards are made.
  const Case cases[] = {{"1", "1", 1}, {"3", "2", 3}, {"4", "3", 4}, {"40", "2", 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("--shards ") + c.shards + " --jobs " + c.jobs);
    const std::string data = fresh_copy(std::string("run") + c.shards + "_" + c.jobs);
    const ProcessResult result =
        batch({"run", models(), data, "--shards", c.shards, "--jobs", c.jobs});
    EXPECT_EQ(result.exit_code, reference_result_.exit_code) << result.out << result.err;
    EXPECT_EQ(result_differences(data, reference_), "");
    EXPECT_NE(result.err.find("could not analyse every image"), std::string::npos) << result.err;

    // One set of logs per shard; the decoding failure in exactly one of them.
    int shards_with_broken = 0;
    for (std::size_t s = 0; s < c.shards_made; ++s) {
      const std::string log = data + "/batch/logs/" + shard_name(s);
      EXPECT_TRUE(fs::exists(log + ".out")) << log;
      const std::string exit = read_file(log + ".exit");
      EXPECT_TRUE(exit == "0\n" || exit == "1\n") << log << ": " << exit;
      if (read_file(log + ".err").find("broken.jpg can't be decoded") != std::string::npos) {
        ++shards_with_broken;
        EXPECT_EQ(exit, "1\n");
      }
    }
    EXPECT_EQ(shards_with_broken, 1);
    EXPECT_TRUE(fs::exists(data + "/batch/" + shard_name(c.shards_made - 1)));
    EXPECT_FALSE(fs::exists(data + "/batch/" + shard_name(c.shards_made)));
  }
}

TEST_F(BatchRunTest, MergingAgainChangesNothing) {
  const std::string data = fresh_copy("again");
  ASSERT_EQ(batch({"run", models(), data, "--shards", "3", "--jobs", "2"}).exit_code, 1);
  const ProcessResult again = batch({"merge", data, data + "/batch"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(result_differences(data, reference_), "");
}

TEST_F(BatchRunTest, EachProcessGetsItsShareOfTheCpus) {
  // A stand-in for quarrow that reports what it was given, then runs quarrow.
  const std::string wrapper = tmp_.path() + "/quarrow-wrapper";
  write_file(wrapper, std::string("#!/bin/sh\necho \"threads=$OMP_NUM_THREADS\"\n") +
                          "grep Cpus_allowed_list /proc/self/status\nexec '" + QUARROW_BINARY +
                          "' \"$@\"\n");
  ::chmod(wrapper.c_str(), 0755);
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  for (const long jobs : {1L, 2L}) {
    SCOPED_TRACE(jobs);
    const std::string data = fresh_copy("cpus" + std::to_string(jobs));
    const ProcessResult result = batch({"run", "--quarrow", wrapper, models(), data, "--shards",
                                        "2", "--jobs", std::to_string(jobs)});
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(result_differences(data, reference_), "");
    const long expected = std::max(1L, cpus / jobs);
    for (const char* shard : {"shard-0000", "shard-0001"}) {
      std::istringstream out(read_file(data + "/batch/logs/" + shard + ".out"));
      std::string threads_line;
      std::string cpus_line;
      std::getline(out, threads_line);
      std::getline(out, cpus_line);
      EXPECT_EQ(threads_line, "threads=" + std::to_string(expected)) << shard;
      // "Cpus_allowed_list:\t0" or "...\t0-1": count the CPUs listed.
      const std::string list = cpus_line.substr(cpus_line.find('\t') + 1);
      long listed = 0;
      std::istringstream ranges(list);
      std::string range;
      while (std::getline(ranges, range, ',')) {
        const std::size_t dash = range.find('-');
        listed += dash == std::string::npos
                      ? 1
                      : std::stol(range.substr(dash + 1)) - std::stol(range.substr(0, dash)) + 1;
      }
      EXPECT_EQ(listed, expected) << shard << ": " << cpus_line;
    }
  }
}

// The quarrow child of `parent`, or -1.
pid_t child_of(pid_t parent) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 2));
    char state;
    pid_t ppid;
    if (rest >> state >> ppid && ppid == parent) return static_cast<pid_t>(std::stol(name));
  }
  return -1;
}

TEST_F(BatchRunTest, ShardKilledInTheMiddleRerunAloneAndMerged) {
  const std::string data = fresh_copy("killed");
  const std::string work = tmp_.path() + "/work";
  // pano9 becomes a FIFO: quarrow blocks opening it, after the images before it.
  const std::string stuck = data + "/caches/images/pano9.jpg";
  fs::remove(stuck);
  ASSERT_EQ(::mkfifo(stuck.c_str(), 0644), 0);
  ASSERT_EQ(batch({"split", data, work, "--shards", "2"}).exit_code, 0);

  std::size_t stuck_shard = 2;
  for (std::size_t s = 0; s < 2; ++s) {
    if (read_file(work + "/" + shard_name(s) + "/caches/images.json").find("\"pano9\"") !=
        std::string::npos) {
      stuck_shard = s;
    }
  }
  ASSERT_LT(stuck_shard, 2u);
  const std::string other = std::to_string(1 - stuck_shard);
  ASSERT_EQ(batch({"run-shard", models(), work, other}).exit_code, 0);

  // Start the stuck shard, wait until quarrow has written some results, kill it.
  const pid_t runner = ::fork();
  ASSERT_GE(runner, 0);
  if (runner == 0) {
    ::setpgid(0, 0);  // run-shard and its quarrow: one group to end if the test fails
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(QUARROW_BATCH_BINARY, QUARROW_BATCH_BINARY, "run-shard", models().c_str(), work.c_str(),
            std::to_string(stuck_shard).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::setpgid(runner, runner);  // also here, so the group exists whichever runs first
  struct GroupGuard {
    pid_t group;
    bool done = false;
    ~GroupGuard() {
      if (done) return;
      ::kill(-group, SIGKILL);
      ::waitpid(group, nullptr, 0);
    }
  } guard{runner};
  const std::string shard_depth = work + "/" + shard_name(stuck_shard) + "/caches/depthmap";
  pid_t quarrow = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (quarrow < 0) quarrow = child_of(runner);
    std::error_code code;
    if (quarrow > 0 && fs::is_directory(shard_depth, code) && !fs::is_empty(shard_depth, code)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GT(quarrow, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(quarrow, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(runner, &status, 0), runner);
  guard.done = true;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(read_file(work + "/logs/" + shard_name(stuck_shard) + ".exit"), "signal 9\n");

  // The merge refuses the killed shard and leaves the data folder alone.
  ProcessResult merged = batch({"merge", data, work});
  EXPECT_EQ(merged.exit_code, 1);
  EXPECT_NE(merged.err.find("failed (quarrow ended with signal 9"), std::string::npos) << merged.err;
  EXPECT_FALSE(fs::exists(data + "/caches/outdoor_flag.json"));
  EXPECT_EQ(file_count(data, "segm"), 0);

  // The stuck file is mended; the shard runs again alone, and the merge is one run's.
  fs::remove(stuck);
  fs::copy_file(reference_ + "/caches/images/pano9.jpg", stuck);
  ASSERT_EQ(batch({"run-shard", models(), work, std::to_string(stuck_shard)}).exit_code, 0);
  merged = batch({"merge", data, work});
  EXPECT_EQ(merged.exit_code, 1) << merged.err;  // the undecodable image, as in one run
  EXPECT_EQ(result_differences(data, reference_), "");
}

TEST_F(BatchRunTest, CommandLineMistakes) {
  const std::string data = fresh_copy("mistakes");
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{}, "usage: quarrow-batch"},
      {{"frobnicate"}, "usage: quarrow-batch"},
      {{"split", data, data + "/w"}, "--shards N is required"},
      {{"split", data, data + "/w", "--shards", "0"}, "--shards must be a whole number"},
      {{"split", data, data + "/w", "--shards", "two"}, "--shards must be a whole number"},
      {{"run", models(), data, "--shards", "2"}, "--jobs N is required"},
      {{"run", models(), data, "--shards", "2", "--jobs", "1", "--colour"}, "unknown option --colour"},
      {{"merge", data, data + "/never"}, "no manifest"},
      {{"run-shard", models(), data + "/never", "0"}, "no manifest"},
      {{"slurm", models(), data, "--shards", "2", "--work-dir", data + "/a b"}, "#SBATCH line"},
  };
  for (const Case& c : cases) {
    const ProcessResult result = batch(c.arguments);
    EXPECT_EQ(result.exit_code, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(data + "/caches/outdoor_flag.json"));
}

TEST_F(BatchRunTest, BadModelsFailEveryShardAndNothingIsMerged) {
  const std::string data = fresh_copy("badmodels");
  const ProcessResult result =
      batch({"run", tmp_.path() + "/no-models", data, "--shards", "2", "--jobs", "2"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("without writing"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(data + "/caches/outdoor_flag.json"));
  EXPECT_EQ(read_file(data + "/batch/logs/shard-0000.err"), "Error: loading saved_model failed.\n");
}

}  // namespace
}  // namespace quarrow::testing
