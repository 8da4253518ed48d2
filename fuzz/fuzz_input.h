// Turning one fuzzer input into files on disk: the input is split into
// sections (saved_model.pb, variables.index, the data shard), and the table
// checksums of an index section are recomputed so mutations reach the block
// and bundle decoders instead of stopping at the first CRC check.
// Header-only so the regression test replays inputs exactly as the fuzzers do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "checkpoint/block.h"
#include "checkpoint/table_format.h"
#include "core/status.h"
#include "util/crc32c.h"

namespace qfuzz {

// Sections of an input are separated by this marker (listed in the
// dictionaries so mutations can add or drop a section).
inline constexpr std::string_view kSectionMarker = "#QTFSPLIT#";

inline std::vector<std::string> split_sections(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> sections;
  size_t start = 0;
  while (true) {
    const size_t at = all.find(kSectionMarker, start);
    if (at == std::string_view::npos) {
      sections.emplace_back(all.substr(start));
      return sections;
    }
    sections.emplace_back(all.substr(start, at - start));
    start = at + kSectionMarker.size();
  }
}

inline std::string join_sections(const std::vector<std::string>& sections) {
  std::string out;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i > 0) out += kSectionMarker;
    out += sections[i];
  }
  return out;
}

// Rewrites the trailer CRC of the block at `handle` when the block lies
// inside the file; anything out of range is left for the reader to reject.
inline void repair_block_checksum(std::string* file, const qtf::BlockHandle& handle) {
  const uint64_t size = file->size();
  if (handle.offset > size || handle.size > size - handle.offset ||
      size - handle.offset - handle.size < qtf::kBlockTrailerLength) {
    return;
  }
  char* block = file->data() + handle.offset;
  const auto n = static_cast<size_t>(handle.size);
  const uint32_t masked = qtf::crc32c_mask(qtf::crc32c(block, n + 1));
  for (int i = 0; i < 4; ++i) block[n + 1 + i] = static_cast<char>((masked >> (8 * i)) & 0xFF);
}

// Makes every block checksum the table reader will verify correct: the
// index block first, then each data block the (now readable) index lists.
inline void repair_table_checksums(std::string* file) {
  if (file->size() < qtf::kFooterLength) return;
  qtf::Footer footer;
  const std::string_view tail = std::string_view(*file).substr(file->size() - qtf::kFooterLength);
  if (!footer.decode_from(tail, "fuzz").is_ok()) return;
  repair_block_checksum(file, footer.index);
  std::string contents;
  if (!qtf::read_block(*file, footer.index, "fuzz", &contents).is_ok()) return;
  qtf::TableEntries index;
  (void)qtf::decode_block(contents, "fuzz", &index);  // keep whatever decoded
  for (const auto& entry : index) {
    std::string_view in(entry.second);
    qtf::BlockHandle handle;
    if (handle.decode_from(&in)) repair_block_checksum(file, handle);
  }
}

inline bool write_bytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace qfuzz
