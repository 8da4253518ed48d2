// The batch tool's whole-file writes and moves, on top of replace_file: a
// reader (the merge, sacct's follower, a rerun) never sees a half-written
// manifest, script, exit file or output.
#pragma once

#include <string>

namespace quarrow::batch {

// Writes `content` to `path` as a whole. False with `error` set on failure.
bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error);

// Moves `source` to `target`, replacing it whole: a rename on one file
// system, else a copy to a temporary name beside `target`, a rename and the
// removal of `source`. A move rather than a link, so that the data folder
// and the shard never share a file that a later run rewrites in place.
bool move_file(const std::string& source, const std::string& target, std::string& error);

}  // namespace quarrow::batch
