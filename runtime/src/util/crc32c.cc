#include "util/crc32c.h"

#include <array>

namespace qtf {
namespace {

constexpr uint32_t kPolynomial = 0x82F63B78u;  // reflected Castagnoli polynomial
constexpr uint32_t kMaskDelta = 0xA282EAD8u;

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero bytes.
struct Tables {
  std::array<std::array<uint32_t, 256>, 8> t{};
  Tables() {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = b;
      for (int i = 0; i < 8; ++i) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
      t[0][b] = c;
    }
    for (uint32_t b = 0; b < 256; ++b) {
      for (size_t k = 1; k < 8; ++k) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
    }
  }
};

const Tables& tables() {
  static const Tables instance;
  return instance;
}

}  // namespace

uint32_t crc32c_extend(uint32_t crc, const void* data, size_t n) {
  const auto& t = tables().t;
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  while (n >= 8) {
    const uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                             uint32_t(p[3]) << 24);
    c = t[7][lo & 0xFFu] ^ t[6][(lo >> 8) & 0xFFu] ^ t[5][(lo >> 16) & 0xFFu] ^ t[4][lo >> 24] ^
        t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFFu];
  return ~c;
}

uint32_t crc32c_mask(uint32_t crc) { return ((crc >> 15) | (crc << 17)) + kMaskDelta; }

uint32_t crc32c_unmask(uint32_t masked) {
  const uint32_t r = masked - kMaskDelta;
  return (r >> 17) | (r << 15);
}

}  // namespace qtf
