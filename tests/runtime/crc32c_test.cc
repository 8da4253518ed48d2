#include "util/crc32c.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qtf {
namespace {

std::vector<uint8_t> filled(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

TEST(Crc32c, KnownVectors) {
  std::vector<uint8_t> ascending(32);
  for (size_t i = 0; i < ascending.size(); ++i) ascending[i] = static_cast<uint8_t>(i);
  const std::string digits = "123456789";
  struct Case {
    std::vector<uint8_t> bytes;
    uint32_t crc;
  };
  const Case cases[] = {
      {std::vector<uint8_t>(digits.begin(), digits.end()), 0xE3069283u},
      {filled(32, 0x00), 0x8A9136AAu},
      {filled(32, 0xFF), 0x62A8AB43u},
      {ascending, 0x46DD794Eu},
      {{}, 0x00000000u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(crc32c(c.bytes.data(), c.bytes.size()), c.crc) << "length " << c.bytes.size();
  }
}

TEST(Crc32c, ExtendEqualsWholeAtEverySplit) {
  std::vector<uint8_t> data(77);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  const uint32_t whole = crc32c(data.data(), data.size());
  for (size_t split = 0; split <= data.size(); ++split) {
    const uint32_t first = crc32c(data.data(), split);
    EXPECT_EQ(crc32c_extend(first, data.data() + split, data.size() - split), whole) << split;
  }
}

TEST(Crc32c, MaskMatchesStoredMetaindexTrailer) {
  // An empty table block (one restart at 0) followed by its type byte 0.
  const uint8_t block[] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  const uint32_t crc = crc32c(block, sizeof block);
  EXPECT_EQ(crc, 0x83F4070Fu);
  EXPECT_EQ(crc32c_mask(crc), 0xB0A1F2C0u);
}

TEST(Crc32c, MaskRoundTripsAndDiffers) {
  for (uint32_t v : {0u, 1u, 0xE3069283u, 0xFFFFFFFFu, 0x80000000u}) {
    EXPECT_NE(crc32c_mask(v), v);
    EXPECT_EQ(crc32c_unmask(crc32c_mask(v)), v);
    EXPECT_NE(crc32c_mask(crc32c_mask(v)), crc32c_mask(v));
  }
}

}  // namespace
}  // namespace qtf
