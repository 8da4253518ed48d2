// The pure parts of quarrow-batch: how records are dealt to shards, how CPUs
// are shared between local slots, and the Slurm scripts' text.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "local_runner.h"
#include "shard_plan.h"
#include "slurm_job.h"

namespace quarrow::batch {
namespace {

using Shards = std::vector<std::vector<std::size_t>>;

std::vector<PlannedRecord> planned(const std::vector<std::string>& keys) {
  std::vector<PlannedRecord> records;
  for (std::size_t i = 0; i < keys.size(); ++i) records.push_back({i * 10, keys[i]});
  return records;
}

TEST(PlanShards, DealsGroupsToTheLeastFilledShard) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;
    std::size_t shards;
    Shards expected;
  };
  const Case cases[] = {
      {"round robin", {"a", "b", "c", "d", "e"}, 2, {{0, 20, 40}, {10, 30}}},
      {"one shard", {"a", "b", "c"}, 1, {{0, 10, 20}}},
      {"a group stays together, in order", {"a", "b", "a", "c", "a"}, 2, {{0, 20, 40}, {10, 30}}},
      {"a big group fills its shard first", {"a", "a", "a", "b", "c", "d"}, 2, {{0, 10, 20}, {30, 40, 50}}},
      {"more shards than groups", {"a", "b", "a"}, 5, {{0, 20}, {10}}},
      {"nothing to process", {}, 3, {{}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plan_shards(planned(c.keys), c.shards), c.expected);
  }
  EXPECT_TRUE(plan_shards(planned({"a"}), 0).empty());
}

TEST(PlanShards, BalancedWithinOneRecordAndEveryRecordOnce) {
  std::vector<std::string> keys;
  for (int i = 0; i < 103; ++i) keys.push_back("k" + std::to_string(i));
  const Shards shards = plan_shards(planned(keys), 8);
  ASSERT_EQ(shards.size(), 8u);
  std::vector<std::size_t> all;
  std::size_t smallest = 1000;
  std::size_t largest = 0;
  for (const auto& shard : shards) {
    EXPECT_TRUE(std::is_sorted(shard.begin(), shard.end()));
    smallest = std::min(smallest, shard.size());
    largest = std::max(largest, shard.size());
    all.insert(all.end(), shard.begin(), shard.end());
  }
  EXPECT_LE(largest - smallest, 1u);
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), keys.size());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], i * 10);
}

TEST(SlotCpus, SharesCpusWithoutOverlap) {
  struct Case {
    std::vector<int> cpus;
    std::size_t jobs;
    std::vector<std::vector<int>> expected;  // per slot
  };
  const Case cases[] = {
      {{0, 1}, 2, {{0}, {1}}},
      {{0, 1}, 1, {{0, 1}}},
      {{0, 1, 2, 3, 4}, 2, {{0, 1}, {2, 3, 4}}},
      {{4, 6, 9}, 3, {{4}, {6}, {9}}},
      {{0, 1}, 3, {{0}, {1}, {0}}},  // more slots than CPUs: one each, shared
  };
  for (const Case& c : cases) {
    for (std::size_t slot = 0; slot < c.jobs; ++slot) {
      EXPECT_EQ(slot_cpus(c.cpus, c.jobs, slot), c.expected[slot]) << "jobs " << c.jobs << " slot " << slot;
    }
  }
}

SlurmJobSpec job_spec() {
  SlurmJobSpec request;
  request.batch_program = "/opt/q/quarrow-batch";
  request.quarrow = "/opt/q/quar'row";
  request.model_folder = "/models";
  request.data_folder = "/data/set 1";
  request.work_folder = "/data/work";
  request.shards = 4;
  return request;
}

TEST(SlurmScripts, ArrayScriptRunsOneShardPerTaskAndRequeuesOnce) {
  SlurmJobSpec request = job_spec();
  std::string text = array_script_text(request);
  EXPECT_EQ(text.rfind("#!/bin/bash\n", 0), 0u);
  EXPECT_NE(text.find("\n#SBATCH --array=0-3\n"), std::string::npos);
  EXPECT_NE(text.find("\n#SBATCH --requeue\n"), std::string::npos);
  EXPECT_NE(text.find("\n#SBATCH --output=/data/work/logs/slurm-%A_%a.out\n"), std::string::npos);
  EXPECT_NE(text.find("\n#SBATCH --open-mode=append\n"), std::string::npos);
  EXPECT_NE(text.find("'/opt/q/quarrow-batch' run-shard --quarrow '/opt/q/quar'\\''row' '/models' "
                      "'/data/work' \"$SLURM_ARRAY_TASK_ID\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("${SLURM_RESTART_COUNT:-0}\" -lt 1"), std::string::npos);
  EXPECT_NE(text.find("scontrol requeue \"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\""),
            std::string::npos);
  // Options appear only when given, and before the first command.
  EXPECT_EQ(text.find("--partition"), std::string::npos);
  EXPECT_EQ(text.find("--cpus-per-task"), std::string::npos);
  request.partition = "batch";
  request.cpus_per_task = 2;
  request.time_limit = "01:30:00";
  text = array_script_text(request);
  const std::size_t first_command = text.find("\nexport ");
  for (const char* line : {"#SBATCH --partition=batch\n", "#SBATCH --cpus-per-task=2\n",
                           "#SBATCH --time=01:30:00\n"}) {
    const std::size_t at = text.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    EXPECT_LT(at, first_command) << line;
  }
}

TEST(SlurmScripts, MergeScriptMergesIntoTheDataFolder) {
  const std::string text = merge_script_text(job_spec());
  EXPECT_NE(text.find("\nexec '/opt/q/quarrow-batch' merge '/data/set 1' '/data/work'\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("--array"), std::string::npos);
}

TEST(SlurmScripts, PathsAnSbatchLineCannotCarryAreRefused) {
  std::string error;
  SlurmJobSpec request = job_spec();
  EXPECT_TRUE(check_slurm_paths(request, error)) << error;
  for (const char* bad : {"/data/my work", "/data/it's", "/data/a\"b"}) {
    request.work_folder = bad;
    error.clear();
    EXPECT_FALSE(check_slurm_paths(request, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos);
  }
}

TEST(ShellQuoted, SurvivesQuotesAndBlanks) {
  EXPECT_EQ(shell_quoted("plain"), "'plain'");
  EXPECT_EQ(shell_quoted("a b"), "'a b'");
  EXPECT_EQ(shell_quoted("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quoted(""), "''");
}

}  // namespace
}  // namespace quarrow::batch
