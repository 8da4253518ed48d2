// Running quarrow on one shard: the shard's earlier outputs and logs go
// first (so nothing of a killed run survives into the merge), the console
// lines go to logs/shard-NNNN.out and .err, and quarrow's ending to
// logs/shard-NNNN.exit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "work_layout.h"

namespace quarrow::batch {

struct ShardRunSpec {
  std::string quarrow;       // the quarrow program
  std::string model_folder;
  std::vector<int> cpus;     // empty: as the caller runs
  int threads = 0;           // OMP_NUM_THREADS for quarrow; 0 leaves it alone
};

// Clears the shard's outputs and logs and starts quarrow on it. The pid, or
// -1 with `error` set.
pid_t start_shard(const WorkLayout& layout, std::size_t shard, const ShardRunSpec& request,
                  std::string& error);

// Records how quarrow ended (its wait status). False with `error` set when
// the exit file cannot be written.
bool finish_shard(const WorkLayout& layout, std::size_t shard, int wait_status,
                  std::string& error);

// The quarrow next to this program when there is one, else "quarrow" from PATH.
std::string default_quarrow_program();

}  // namespace quarrow::batch

namespace quarrow::batch {

// quarrow-batch run-shard: runs shard `shard` to its end, records it, and
// returns 0 when its results can be merged (quarrow ended with 0, or with 1
// after writing the record list), else 1 with the reason on std::cerr.
int run_one_shard(const WorkLayout& layout, std::size_t shard, const ShardRunSpec& request);

}  // namespace quarrow::batch
