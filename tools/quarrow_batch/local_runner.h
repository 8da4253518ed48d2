// Runs the shards of a split as local quarrow processes, `jobs` at a time.
//
// Each of the `jobs` slots owns its share of this process's CPUs (quarrow is
// bound to them and told as many threads), so the slots never compete
// for a core; with more slots than CPUs, slots share CPUs one thread each.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "shard_run.h"
#include "work_layout.h"

namespace quarrow::batch {

// The CPUs of slot `slot` of `jobs` over `cpus`.
std::vector<int> slot_cpus(const std::vector<int>& cpus, std::size_t jobs, std::size_t slot);

// Runs every shard in `shards`, J at a time, with the quarrow and models of
// `request` (its cpus and threads are set per slot). Prints one line per shard
// as it ends. False when a shard could not be started or recorded.
bool run_shards_locally(const WorkLayout& layout, const std::vector<std::size_t>& shards,
                        std::size_t jobs, const ShardRunSpec& request, std::string& error);

}  // namespace quarrow::batch
