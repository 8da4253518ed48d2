// Reads a whole sorted table (a checkpoint's .index file) into memory: the
// footer, the index block and every data block it lists, each block's checksum
// verified. Index files are small, so everything is decoded up front.
#pragma once

#include <string>

#include "checkpoint/block.h"
#include "core/status.h"

namespace qtf {

// Parses table bytes; `file_name` labels errors. Entries come out in key order.
Status parse_table(const std::string& file, const std::string& file_name, TableEntries* entries);

// Reads and parses the table at `path`.
Status read_table(const std::string& path, TableEntries* entries);

}  // namespace qtf
