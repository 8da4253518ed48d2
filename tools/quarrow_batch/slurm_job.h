// The Slurm side: an sbatch array script whose task i runs shard i, a merge
// script, and their submission.
//
// Every path in the scripts is absolute, so they run unchanged on any node
// that sees the data, work and model folders and the two programs at the
// same paths (a shared file system such as NFS). A task whose shard failed
// requeues itself once (SLURM_RESTART_COUNT tells a second attempt); a shard
// that only had images it could not analyse counts as done, since running
// it again would give the same.
#pragma once

#include <cstddef>
#include <string>

namespace quarrow::batch {

struct SlurmJobSpec {
  std::string batch_program;  // this program, absolute
  std::string quarrow;        // absolute
  std::string model_folder;   // absolute
  std::string data_folder;    // absolute
  std::string work_folder;    // absolute
  std::size_t shards = 0;
  std::string partition;      // "" for the cluster's default
  int cpus_per_task = 0;      // 0 for the cluster's default
  std::string time_limit;     // "" for the partition's default
};

// Single-quoted for the shell.
std::string shell_quoted(const std::string& text);

// False with `error` set when a path holds characters an #SBATCH line can't carry.
bool check_slurm_paths(const SlurmJobSpec& request, std::string& error);

std::string array_script_text(const SlurmJobSpec& request);
std::string merge_script_text(const SlurmJobSpec& request);

// Writes both scripts, submits the array and then either a merge job that
// waits for it (afterok), or, with `wait`, waits for the array itself and
// merges here. Prints the job ids and how to follow them. The exit code.
int submit_slurm_jobs(const SlurmJobSpec& request, bool wait);

}  // namespace quarrow::batch
