// Minimal sorted-table decoder for the writer tests.
#include "table_decoder.h"

namespace qsm_test {

bool get_varint(const std::string& s, size_t* pos, uint64_t* v) {
  *v = 0;
  for (int shift = 0; shift < 64 && *pos < s.size(); shift += 7) {
    const auto byte = static_cast<unsigned char>(s[(*pos)++]);
    *v |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

uint32_t get_fixed32(const std::string& s, size_t pos) {
  uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(s[pos + static_cast<size_t>(k)]);
  return v;
}

namespace {

bool read_block(const std::string& file, uint64_t offset, uint64_t size, DecodedBlock* b,
                std::string* error) {
  if (offset + size + 5 > file.size()) {
    *error = "block out of range";
    return false;
  }
  b->offset = offset;
  b->size = size;
  b->type = static_cast<uint8_t>(file[offset + size]);
  b->stored_crc = get_fixed32(file, offset + size + 1);
  if (b->type != 0) return true;  // compressed: trailer only
  const std::string c = file.substr(offset, size);
  if (c.size() < 4) {
    *error = "block too small";
    return false;
  }
  const uint32_t n = get_fixed32(c, c.size() - 4);
  if (4ull * (n + 1) > c.size()) {
    *error = "bad restart count";
    return false;
  }
  const size_t limit = c.size() - 4 * (n + 1);
  for (uint32_t k = 0; k < n; ++k) b->restarts.push_back(get_fixed32(c, limit + 4 * k));
  size_t pos = 0;
  std::string key;
  while (pos < limit) {
    uint64_t shared, non_shared, value_len;
    if (!get_varint(c, &pos, &shared) || !get_varint(c, &pos, &non_shared) ||
        !get_varint(c, &pos, &value_len) || shared > key.size() || pos + non_shared + value_len > limit) {
      *error = "bad entry";
      return false;
    }
    key = key.substr(0, shared) + c.substr(pos, non_shared);
    pos += non_shared;
    b->entries.emplace_back(key, c.substr(pos, value_len));
    b->shared.push_back(static_cast<uint32_t>(shared));
    pos += value_len;
  }
  return true;
}

}  // namespace

DecodedTable decode_table(const std::string& file) {
  DecodedTable t;
  if (file.size() < 48) {
    t.error = "shorter than a footer";
    return t;
  }
  const size_t f = file.size() - 48;
  t.magic = get_fixed32(file, f + 40) | (static_cast<uint64_t>(get_fixed32(file, f + 44)) << 32);
  size_t pos = f;
  uint64_t mo, ms, io, is;
  if (!get_varint(file, &pos, &mo) || !get_varint(file, &pos, &ms) || !get_varint(file, &pos, &io) ||
      !get_varint(file, &pos, &is)) {
    t.error = "bad footer handles";
    return t;
  }
  if (!read_block(file, mo, ms, &t.metaindex, &t.error) || !read_block(file, io, is, &t.index, &t.error)) {
    return t;
  }
  for (const auto& [key, handle] : t.index.entries) {
    size_t p = 0;
    uint64_t o, s;
    if (!get_varint(handle, &p, &o) || !get_varint(handle, &p, &s)) {
      t.error = "bad index handle";
      return t;
    }
    DecodedBlock b;
    if (!read_block(file, o, s, &b, &t.error)) return t;
    t.data.push_back(b);
  }
  return t;
}

}  // namespace qsm_test
