// On-disk pieces of the sorted-table format that checkpoint index files use:
// block handles, the fixed-size footer, and reading one block with its trailer
// (compression type + masked CRC32C) checked and its contents decompressed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/status.h"

namespace qtf {

// Where a block lives: file offset and size of its contents (trailer excluded).
struct BlockHandle {
  uint64_t offset = 0;
  uint64_t size = 0;

  static constexpr size_t kMaxEncodedLength = 10 + 10;
  void encode_to(std::string* out) const;
  // Consumes a handle from the front of `*in`.
  bool decode_from(std::string_view* in);
};

constexpr uint64_t kTableMagicNumber = 0xdb4775248b80fb57ull;
constexpr size_t kFooterLength = 2 * BlockHandle::kMaxEncodedLength + 8;
constexpr size_t kBlockTrailerLength = 5;  // type byte + fixed32 masked CRC

enum class BlockCompression : uint8_t { kNone = 0, kSnappy = 1 };

struct Footer {
  BlockHandle metaindex;
  BlockHandle index;

  void encode_to(std::string* out) const;
  // `in` must be exactly the last kFooterLength bytes of the file.
  Status decode_from(std::string_view in, const std::string& file_name);
};

// Checks the trailer of the block at `handle` inside `file` and returns its
// (decompressed) contents. `file_name` only labels errors.
Status read_block(std::string_view file, const BlockHandle& handle, const std::string& file_name,
                  std::string* contents);

}  // namespace qtf
