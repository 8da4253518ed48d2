// CRC32C (Castagnoli) checksums as used by checkpoint tables and bundles, plus the
// masking that keeps a CRC stored next to the data it covers from checksumming itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qtf {

// Extends `crc` (the CRC of some earlier bytes, 0 for none) with `n` more bytes.
uint32_t crc32c_extend(uint32_t crc, const void* data, size_t n);

inline uint32_t crc32c(const void* data, size_t n) { return crc32c_extend(0, data, n); }

// Rotate right by 15 bits, then add a constant; `crc32c_unmask` inverts it.
uint32_t crc32c_mask(uint32_t crc);
uint32_t crc32c_unmask(uint32_t masked);

}  // namespace qtf
