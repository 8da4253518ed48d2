// A deliberately separate, minimal decoder of the sorted-table layout, used by
// the writer tests to check the bytes the writer produces (and a real
// TensorFlow index file) structure by structure: footer, block handles,
// trailers, restart arrays and entries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qsm_test {

struct DecodedBlock {
  uint64_t offset = 0, size = 0;
  uint8_t type = 0;             // trailer compression byte
  uint32_t stored_crc = 0;      // trailer CRC as stored (masked)
  std::vector<uint32_t> restarts;
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<uint32_t> shared;  // shared-prefix length of each entry
};

struct DecodedTable {
  uint64_t magic = 0;
  DecodedBlock metaindex, index;
  std::vector<DecodedBlock> data;  // only uncompressed blocks are decoded
  std::string error;               // empty when the layout decoded
};

DecodedTable decode_table(const std::string& file);
bool get_varint(const std::string& s, size_t* pos, uint64_t* v);
uint32_t get_fixed32(const std::string& s, size_t pos);

}  // namespace qsm_test
