// TableBuilder: writes a sorted key/value table in the LevelDB file format
// that TensorFlow uses for checkpoint .index files: uncompressed data blocks
// (restart every 16 entries, cut at about 256 KiB), an empty metaindex block,
// an index block with restart interval 1 keyed by shortest separators, and the
// 48-byte footer with the table magic. Every block carries a masked CRC32C.
// The byte-level pieces (varints, fixed-width integers, block handles, the
// footer, CRC32C) are the runtime's own, so writer and reader share them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "checkpoint/table_format.h"

namespace qsm {

class TableBuilder {
 public:
  static constexpr int kRestartInterval = 16;
  static constexpr size_t kBlockSize = 262144;

  // Keys must be added in strictly increasing bytewise order; returns false
  // (and ignores the entry) otherwise.
  bool add(const std::string& key, const std::string& value);
  // Completes the table and returns the whole file.
  std::string finish();

 private:
  class Block {
   public:
    explicit Block(int restart_interval) : restart_interval_(restart_interval) {}
    void add(const std::string& key, const std::string& value);
    std::string finish();
    size_t size_estimate() const { return buffer_.size() + 4 * (restarts_.size() + 1); }
    bool empty() const { return buffer_.empty(); }

   private:
    int restart_interval_;
    std::string buffer_;
    std::string last_key_;
    std::vector<uint32_t> restarts_{0};
    int count_ = 0;
  };

  void flush_data_block();
  // Appends block contents plus trailer; returns the block's handle.
  qtf::BlockHandle write_block(const std::string& contents);

  std::string file_;
  Block data_{kRestartInterval};
  Block index_{1};
  std::string last_key_;
  bool has_key_ = false;
  std::string pending_handle_;  // encoded handle of a flushed block waiting for its index key
  bool finished_ = false;
};

// The shortest string s with start <= s < limit (LevelDB's separator rule);
// `start` itself when no shorter one exists.
std::string shortest_separator(const std::string& start, const std::string& limit);
// The shortest string >= key (LevelDB's successor rule).
std::string short_successor(const std::string& key);

}  // namespace qsm
