// Decoding of one table block: prefix-compressed key/value entries followed by
// a restart array. Restart points are checked (each must start an entry with
// no shared prefix) but not needed for reading every entry in order.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/status.h"

namespace qtf {

using TableEntries = std::vector<std::pair<std::string, std::string>>;

// Appends the block's entries to `*out` in stored order. `where` labels errors.
Status decode_block(const std::string& contents, const std::string& where, TableEntries* out);

}  // namespace qtf
