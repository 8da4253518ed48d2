// quarrow-batch split: turns a data folder into shard data folders that
// quarrow can run on one by one, and writes the manifest that merge checks.
#pragma once

#include <cstddef>
#include <string>

#include "manifest.h"

namespace quarrow::batch {

// Writes work_folder/shard-NNNN/caches/ (images/ with symbolic links to the
// originals, images.json with the shard's records) for up to `shard_count`
// shards, and the manifest. A work folder left by an earlier split is
// cleared first; any other non-empty folder is refused. False with `error`
// set on failure.
bool split_data_folder(const std::string& data_folder, const std::string& work_folder,
                       std::size_t shard_count, Manifest& manifest, std::string& error);

}  // namespace quarrow::batch
