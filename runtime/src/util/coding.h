// Little-endian fixed-width and varint decoding over a byte range whose end is
// always checked before a byte is read. Every reader of the checkpoint formats
// goes through these, so a truncated or corrupt file can never read past its buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qtf {

inline uint32_t decode_fixed32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline uint64_t decode_fixed64(const char* p) {
  return uint64_t(decode_fixed32(p)) | uint64_t(decode_fixed32(p + 4)) << 32;
}

inline void put_fixed32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFFu));
}

inline void put_fixed64(std::string* out, uint64_t v) {
  put_fixed32(out, static_cast<uint32_t>(v));
  put_fixed32(out, static_cast<uint32_t>(v >> 32));
}

inline void put_varint64(std::string* out, uint64_t v) {
  while (v >= 0x80) {
    out->push_back(static_cast<char>((v & 0x7Fu) | 0x80u));
    v >>= 7;
  }
  out->push_back(static_cast<char>(v));
}

// Reads a varint from the front of `*in` and advances it; false (and `*in`
// unchanged) when the bytes run out or the value does not fit the width.
inline bool get_varint64(std::string_view* in, uint64_t* value) {
  uint64_t result = 0;
  for (size_t i = 0; i < in->size() && i < 10; ++i) {
    const auto byte = static_cast<uint8_t>((*in)[i]);
    if (i == 9 && byte > 1) return false;  // more than 64 bits
    result |= uint64_t(byte & 0x7Fu) << (7 * i);
    if ((byte & 0x80u) == 0) {
      *value = result;
      in->remove_prefix(i + 1);
      return true;
    }
  }
  return false;
}

inline bool get_varint32(std::string_view* in, uint32_t* value) {
  std::string_view probe = *in;
  uint64_t v = 0;
  if (!get_varint64(&probe, &v) || v > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(v);
  *in = probe;
  return true;
}

inline bool get_fixed32(std::string_view* in, uint32_t* value) {
  if (in->size() < 4) return false;
  *value = decode_fixed32(in->data());
  in->remove_prefix(4);
  return true;
}

}  // namespace qtf
