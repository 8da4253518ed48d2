// quarrow-batch merge: puts the shards' results into the data folder as one
// quarrow run over the whole folder would have left it.
#pragma once

#include <string>

namespace quarrow::batch {

struct MergeResult {
  int exit_code = 1;  // 0: merged, every image done; 1: refused, or merged with failed images
  bool merged = false;
};

// Checks every shard first and refuses (nothing changed, every reason on
// std::cerr) when one is missing, unfinished, failed or made from another
// images.json. Then moves each shard's mask and depth files into
// caches/segm and caches/depthmap, and writes caches/outdoor_flag.json with
// every source record in its order, through a temporary file and a rename.
// Merging again gives the same folder; a shard run again after a merge
// brings new files, which the next merge moves over the old.
MergeResult merge_shards(const std::string& data_folder, const std::string& work_folder);

}  // namespace quarrow::batch
