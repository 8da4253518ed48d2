#include "checkpoint/block.h"

#include <algorithm>
#include <string_view>

#include "util/coding.h"

namespace qtf {

Status decode_block(const std::string& contents, const std::string& where, TableEntries* out) {
  if (contents.size() < 4) return data_loss(where + ": block too short for its restart count");
  const uint64_t num_restarts = decode_fixed32(contents.data() + contents.size() - 4);
  const uint64_t max_restarts = (contents.size() - 4) / 4;
  if (num_restarts > max_restarts) return data_loss(where + ": bad restart count");
  const size_t entries_end = contents.size() - 4 * (static_cast<size_t>(num_restarts) + 1);

  std::vector<uint32_t> restarts(static_cast<size_t>(num_restarts));
  for (size_t i = 0; i < restarts.size(); ++i) {
    restarts[i] = decode_fixed32(contents.data() + entries_end + 4 * i);
    if (restarts[i] >= entries_end && !(restarts[i] == 0 && entries_end == 0)) {
      return data_loss(where + ": restart point out of range");
    }
  }

  std::string_view in(contents.data(), entries_end);
  std::string key;
  bool have_key = false;
  size_t next_restart = 0;
  while (!in.empty()) {
    const auto offset = static_cast<uint32_t>(entries_end - in.size());
    uint32_t shared = 0, non_shared = 0, value_length = 0;
    if (!get_varint32(&in, &shared) || !get_varint32(&in, &non_shared) ||
        !get_varint32(&in, &value_length)) {
      return data_loss(where + ": truncated entry header at offset " + std::to_string(offset));
    }
    if (shared > key.size() || non_shared > in.size() || value_length > in.size() - non_shared) {
      return data_loss(where + ": entry at offset " + std::to_string(offset) +
                       " runs past the block");
    }
    const bool at_restart = next_restart < restarts.size() && restarts[next_restart] == offset;
    if (at_restart) {
      if (shared != 0) return data_loss(where + ": restart entry shares a key prefix");
      ++next_restart;
    }
    std::string next_key = key.substr(0, shared);
    next_key.append(in.data(), non_shared);
    if (have_key && next_key <= key) {
      return data_loss(where + ": keys out of order at offset " + std::to_string(offset));
    }
    key = std::move(next_key);
    have_key = true;
    out->emplace_back(key, std::string(in.data() + non_shared, value_length));
    in.remove_prefix(non_shared + value_length);
  }
  if (entries_end > 0 && next_restart != restarts.size()) {
    return data_loss(where + ": restart point does not start an entry");
  }
  return Status::ok();
}

}  // namespace qtf
