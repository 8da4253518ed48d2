// Sharded runs through a real single-node Slurm cluster (started by the
// test, as root): the array of shard tasks and the merge, with sbatch --wait
// and with a merge job that depends on the array, and a failed task that is
// requeued once; each against one quarrow run, byte for byte.
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "batch_fixture.h"
#include "process_runner.h"
#include "slurm_cluster.h"
#include "test_models.h"

namespace quarrow::testing {
namespace {

namespace fs = std::filesystem;

class SlurmTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    skip_reason_ = SlurmCluster::unavailable_reason();
    if (skip_reason_.empty() && find_program("timeout").empty()) skip_reason_ = "timeout not found";
    if (!skip_reason_.empty()) return;
    dir_ = std::make_unique<TempDir>();
    // The job runs on the node as the test's user: everything must be readable there.
    fs::permissions(dir_->path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
    cluster_ = std::make_unique<SlurmCluster>();
    std::string error;
    if (!cluster_->start(dir_->path() + "/cluster", error)) {
      start_error_ = error + "\n" + cluster_->log_tails();
      return;
    }
    ASSERT_TRUE(qsm::write_model_folder(models()).is_ok());
    reference_ = dir_->path() + "/reference";
    make_mixed_data_folder(reference_, 10);
    reference_exit_ = run_process(QUARROW_BINARY, {models(), reference_}).exit_code;
  }
  static void TearDownTestSuite() {
    cluster_.reset();  // stops the daemons
    dir_.reset();
  }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(start_error_, "");
  }
  void TearDown() override {
    if (HasFailure() && cluster_) std::cerr << cluster_->log_tails();
  }

  static std::string models() { return dir_->path() + "/models"; }

  std::string fresh_copy(const std::string& name) {
    const std::string data = dir_->path() + "/" + name;
    copy_inputs(reference_, data);
    return data;
  }

  // Bounded: a cluster that stops scheduling must not hang the test.
  static ProcessResult batch(const std::vector<std::string>& arguments) {
    std::vector<std::string> bounded = {"300", QUARROW_BATCH_BINARY};
    bounded.insert(bounded.end(), arguments.begin(), arguments.end());
    return run_process(find_program("timeout"), bounded);
  }

  // Waits (bounded) until the queue is empty.
  static bool queue_drains(int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      const ProcessResult queue = run_process(find_program("squeue"), {"-h"});
      if (queue.exit_code == 0 && queue.out.empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
  }

  static std::string skip_reason_;
  static std::string start_error_;
  static std::unique_ptr<TempDir> dir_;
  static std::unique_ptr<SlurmCluster> cluster_;
  static std::string reference_;
  static int reference_exit_;
};

std::string SlurmTest::skip_reason_;
std::string SlurmTest::start_error_;
std::unique_ptr<TempDir> SlurmTest::dir_;
std::unique_ptr<SlurmCluster> SlurmTest::cluster_;
std::string SlurmTest::reference_;
int SlurmTest::reference_exit_ = 0;

TEST_F(SlurmTest, ArrayWithWaitEqualsOneRun) {
  const std::string data = fresh_copy("wait");
  const ProcessResult result = batch({"slurm", models(), data, "--shards", "4", "--wait"});
  EXPECT_EQ(result.exit_code, reference_exit_) << result.out << result.err;
  EXPECT_EQ(reference_exit_, 1);  // the undecodable image
  EXPECT_EQ(result_differences(data, reference_), "");
  EXPECT_TRUE(std::regex_search(result.out, std::regex("array job [0-9]+ \\(tasks 0-3\\)")))
      << result.out;
  EXPECT_NE(result.out.find("squeue -j "), std::string::npos);
  EXPECT_NE(result.out.find("sacct -j "), std::string::npos);
  const std::string script = read_file(data + "/batch/shards.sbatch");
  EXPECT_NE(script.find("#SBATCH --array=0-3\n"), std::string::npos) << script;
  for (const char* shard : {"shard-0000", "shard-0001", "shard-0002", "shard-0003"}) {
    EXPECT_TRUE(fs::exists(data + "/batch/logs/" + shard + ".exit")) << shard;
  }
}

TEST_F(SlurmTest, MergeJobRunsAfterTheArray) {
  const std::string data = fresh_copy("dependent");
  const ProcessResult result =
      batch({"slurm", models(), data, "--shards", "3", "--cpus-per-task", "1"});
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  std::smatch ids;
  ASSERT_TRUE(std::regex_search(result.out, ids,
                                std::regex("array job ([0-9]+)[^]*merge as job ([0-9]+)")))
      << result.out;
  ASSERT_TRUE(queue_drains(120)) << "jobs still queued";
  EXPECT_EQ(result_differences(data, reference_), "");
  const std::string merge_log = read_file(data + "/batch/logs/merge-" + ids[2].str() + ".out");
  EXPECT_NE(merge_log.find("Merged the shards"), std::string::npos) << merge_log;
  EXPECT_NE(merge_log.find("could not analyse every image"), std::string::npos) << merge_log;
}

TEST_F(SlurmTest, FailedTaskIsRequeuedOnce) {
  // A quarrow that crashes on its first start for each shard, then runs.
  const std::string wrapper = dir_->path() + "/flaky-quarrow";
  write_file(wrapper, std::string("#!/bin/sh\n") +
                          "marker=\"$2/../tried-$(basename \"$2\")\"\n"
                          "if [ ! -e \"$marker\" ]; then touch \"$marker\"; kill -9 $$; fi\n"
                          "exec '" + QUARROW_BINARY + "' \"$@\"\n");
  ::chmod(wrapper.c_str(), 0755);
  const std::string data = fresh_copy("requeue");
  const ProcessResult result =
      batch({"slurm", "--quarrow", wrapper, models(), data, "--shards", "2", "--wait"});
  EXPECT_EQ(result.exit_code, reference_exit_) << result.out << result.err;
  EXPECT_EQ(result_differences(data, reference_), "");
  int requeued = 0;
  for (const auto& entry : fs::directory_iterator(data + "/batch/logs")) {
    if (entry.path().filename().string().rfind("slurm-", 0) != 0) continue;
    const std::string log = read_file(entry.path().string());
    if (log.find("requeued once") != std::string::npos) ++requeued;
  }
  EXPECT_EQ(requeued, 2);
}

}  // namespace
}  // namespace quarrow::testing
