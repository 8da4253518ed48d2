#include "slurm_job.h"

#include <sys/wait.h>

#include <iostream>
#include <vector>

#include "atomic_file.h"
#include "child_process.h"
#include "merge.h"
#include "work_layout.h"

namespace quarrow::batch {

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool check_slurm_paths(const SlurmJobSpec& request, std::string& error) {
  // #SBATCH lines are split at blanks and know no quoting that all versions share.
  for (const std::string* path : {&request.work_folder, &request.partition, &request.time_limit}) {
    for (char c : *path) {
      if (c == ' ' || c == '\t' || c == '\n' || c == '\'' || c == '"' || c == '\\') {
        error = "\"" + *path + "\" holds a blank or a quote, which an #SBATCH line can't carry";
        return false;
      }
    }
  }
  return true;
}

namespace {

std::string common_options(const SlurmJobSpec& request) {
  std::string text = "#SBATCH --chdir=" + request.work_folder + "\n";
  if (!request.partition.empty()) text += "#SBATCH --partition=" + request.partition + "\n";
  if (!request.time_limit.empty()) text += "#SBATCH --time=" + request.time_limit + "\n";
  return text;
}

// "123" from sbatch --parsable's "123" or "123;cluster".
std::string job_id_of(const std::string& line) { return line.substr(0, line.find(';')); }

}  // namespace

std::string array_script_text(const SlurmJobSpec& request) {
  const WorkLayout layout(request.work_folder);
  std::string text = "#!/bin/bash\n";
  text += "# quarrow-batch: array task i runs quarrow on shard i of " + request.work_folder + "\n";
  text += "#SBATCH --job-name=quarrow-batch\n";
  text += "#SBATCH --array=0-" + std::to_string(request.shards - 1) + "\n";
  text += "#SBATCH --requeue\n";
  text += "#SBATCH --output=" + layout.logs() + "/slurm-%A_%a.out\n";
  text += "#SBATCH --open-mode=append\n";  // a requeued task keeps its first attempt's lines
  if (request.cpus_per_task > 0) {
    text += "#SBATCH --cpus-per-task=" + std::to_string(request.cpus_per_task) + "\n";
  }
  text += common_options(request);
  text += "export OMP_NUM_THREADS=\"${SLURM_CPUS_PER_TASK:-1}\"\n";
  text += shell_quoted(request.batch_program) + " run-shard --quarrow " + shell_quoted(request.quarrow) +
          " " + shell_quoted(request.model_folder) + " " + shell_quoted(request.work_folder) +
          " \"$SLURM_ARRAY_TASK_ID\"\n";
  text += "status=$?\n";
  text += "if [ \"$status\" -ne 0 ] && [ \"${SLURM_RESTART_COUNT:-0}\" -lt 1 ]; then\n";
  text += "  echo \"shard $SLURM_ARRAY_TASK_ID failed (exit $status); requeued once\" >&2\n";
  text += "  scontrol requeue \"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"\n";
  text += "fi\n";
  text += "exit \"$status\"\n";
  return text;
}

std::string merge_script_text(const SlurmJobSpec& request) {
  const WorkLayout layout(request.work_folder);
  std::string text = "#!/bin/bash\n";
  text += "# quarrow-batch: merges the shards of " + request.work_folder + " into " +
          request.data_folder + "\n";
  text += "#SBATCH --job-name=quarrow-batch-merge\n";
  text += "#SBATCH --output=" + layout.logs() + "/merge-%j.out\n";
  text += common_options(request);
  text += "exec " + shell_quoted(request.batch_program) + " merge " + shell_quoted(request.data_folder) +
          " " + shell_quoted(request.work_folder) + "\n";
  return text;
}

int submit_slurm_jobs(const SlurmJobSpec& request, bool wait) {
  const WorkLayout layout(request.work_folder);
  std::string error;
  if (!write_file_atomically(layout.array_script(), array_script_text(request), error) ||
      !write_file_atomically(layout.merge_script(), merge_script_text(request), error)) {
    std::cerr << "Error: " << error << std::endl;
    return 1;
  }

  std::string array_id;
  std::vector<std::string> arguments = {"--parsable"};
  if (wait) arguments.push_back("--wait");
  arguments.push_back(layout.array_script());
  const int array_status = run_reading_lines(
      "sbatch", arguments,
      [&](const std::string& line) {
        if (!array_id.empty() || line.empty()) return;
        array_id = job_id_of(line);
        std::cout << "Submitted the shards as array job " << array_id << " (tasks 0-"
                  << request.shards - 1 << ")" << std::endl;
        std::cout << "Follow it with: squeue -j " << array_id << "; afterwards: sacct -j "
                  << array_id << "; shard logs in " << layout.logs() << std::endl;
      },
      error);
  if (array_id.empty()) {
    std::cerr << "Error: sbatch did not submit " << layout.array_script()
              << (error.empty() ? "" : ": " + error) << std::endl;
    return 1;
  }
  if (wait) {
    if (array_status != 0) {
      std::cerr << "sbatch reports that a shard task failed (" << layout.logs()
                << " has its messages); merging checks each shard" << std::endl;
    }
    return merge_shards(request.data_folder, request.work_folder).exit_code;
  }

  std::string merge_id;
  const int merge_status = run_reading_lines(
      "sbatch",
      {"--parsable", "--dependency=afterok:" + array_id, "--kill-on-invalid-dep=yes",
       layout.merge_script()},
      [&](const std::string& line) {
        if (merge_id.empty() && !line.empty()) merge_id = job_id_of(line);
      },
      error);
  if (merge_id.empty() || merge_status != 0) {
    std::cerr << "Error: sbatch did not submit " << layout.merge_script()
              << "; merge by hand once the shards are done: " << request.batch_program << " merge "
              << request.data_folder << " " << request.work_folder << std::endl;
    return 1;
  }
  std::cout << "Submitted the merge as job " << merge_id << ", to run when every shard is done"
            << std::endl;
  std::cout << "Follow both with: squeue -j " << array_id << "," << merge_id
            << "; afterwards: sacct -j " << array_id << "," << merge_id << "; merge log: "
            << layout.logs() << "/merge-" << merge_id << ".out" << std::endl;
  return 0;
}

}  // namespace quarrow::batch
