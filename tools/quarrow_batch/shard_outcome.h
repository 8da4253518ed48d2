// How a shard's quarrow run ended, as its exit file records it, and whether
// its results can be merged.
//
// quarrow ends with 1 both when it could not run at all (a model that does
// not load, an unreadable images.json) and when it ran to the end but some
// image could not be decoded or an output file not written; only in the
// second case has it written outdoor_flag.json. So a shard whose quarrow
// ended with 0, or with 1 and a complete outdoor_flag.json, is finished, and
// the second kind makes the merged run end with 1, as one run would. Every
// other ending (a signal, another code, 1 without the list) is a failure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/image_record.h"
#include "manifest.h"
#include "work_layout.h"

namespace quarrow::batch {

// What a wait status becomes in the exit file: "0", "1", "signal 9".
std::string exit_text(int wait_status);

// Records quarrow's ending in the shard's exit file. False on failure.
bool write_exit_file(const WorkLayout& layout, std::size_t shard, int wait_status,
                     std::string& error);

enum class ShardState {
  kNotRun,         // no exit file: never run, still running, or its runner was killed
  kFailed,         // ended without a complete record list
  kFinished,       // exit 0
  kImagesFailed,   // exit 1 after writing the record list
};

struct ShardOutcome {
  ShardState state = ShardState::kNotRun;
  std::string reason;                // for kNotRun and kFailed: why, in words
  std::vector<ImageRecord> results;  // the shard's outdoor_flag.json when finished
};

// Reads the shard's exit file and outdoor_flag.json and checks the list
// against `expected`, the records the shard was given: same length, and the
// same uuid, id and is_main at each place.
ShardOutcome shard_outcome(const WorkLayout& layout, const Manifest& manifest, std::size_t shard,
                           const std::vector<ImageRecord>& expected);

bool is_finished(ShardState state);

}  // namespace quarrow::batch
