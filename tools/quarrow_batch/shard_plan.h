// Which records each shard processes.
//
// Records that write the same output files (equal uuids, or uuids that end in
// the same file stem) form one group and go to one shard, in their original
// order, so that the last of them writes the files, as in one run. Groups are
// dealt out in order of their first record, each to the shard that holds the
// fewest records so far (the lowest index on a tie): with single-record
// groups that is round robin, so indoor and outdoor scenes mix evenly.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quarrow::batch {

// A record that one run would process: its index in images.json and the name
// of the output files it writes (its sky mask file name serves).
struct PlannedRecord {
  std::size_t index = 0;
  std::string output_key;
};

// Indices of the records of each shard, ascending. Gives min(shard_count,
// number of groups) shards, and at least one when shard_count > 0: with
// nothing to process, one empty shard.
std::vector<std::vector<std::size_t>> plan_shards(const std::vector<PlannedRecord>& records,
                                                  std::size_t shard_count);

}  // namespace quarrow::batch
