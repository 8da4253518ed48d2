#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checkpoint/table.h"
#include "checkpoint/table_format.h"
#include "checkpoint_test_util.h"

namespace qtf {
namespace {

using testing::build_table;
using testing::TableOptions;

TableEntries sample_entries(int n) {
  TableEntries rows;
  rows.emplace_back("", "header");
  for (int i = 0; i < n; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%03d", i);
    rows.emplace_back("layer_with_weights-" + std::string(number) +
                          "/kernel/.ATTRIBUTES/VARIABLE_VALUE", std::string(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26)));
  }
  return rows;
}

struct LayoutCase {
  const char* name;
  int entries;
  TableOptions options;
};

class TableLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(TableLayoutTest, ReadsBackEveryEntryInOrder) {
  const LayoutCase& c = GetParam();
  const TableEntries rows = sample_entries(c.entries);
  TableEntries read;
  const Status s = parse_table(build_table(rows, c.options), "t.index", &read);
  ASSERT_TRUE(s.is_ok()) << s.message();
  EXPECT_EQ(read, rows);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TableLayoutTest,
    ::testing::Values(LayoutCase{"OneEntry", 0, {16, 4096, false}},
                      LayoutCase{"RestartEvery16", 70, {16, 1 << 20, false}},
                      LayoutCase{"RestartEveryEntry", 20, {1, 1 << 20, false}},
                      LayoutCase{"ManySmallBlocks", 200, {4, 256, false}},
                      LayoutCase{"SnappyBlocks", 200, {16, 512, true}},
                      LayoutCase{"SnappySingleBlock", 30, {16, 1 << 20, true}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Table, EmptyTableHasNoEntries) {
  TableEntries read;
  ASSERT_TRUE(parse_table(build_table({}), "t.index", &read).is_ok());
  EXPECT_TRUE(read.empty());
}

TEST(Table, FooterRoundTrip) {
  Footer footer;
  footer.metaindex = {4091, 8};
  footer.index = {4104, 15};
  std::string encoded;
  footer.encode_to(&encoded);
  ASSERT_EQ(encoded.size(), kFooterLength);
  EXPECT_EQ(encoded.substr(40), std::string("\x57\xfb\x80\x8b\x24\x75\x47\xdb", 8));
  Footer decoded;
  ASSERT_TRUE(decoded.decode_from(encoded, "f").is_ok());
  EXPECT_EQ(decoded.metaindex.offset, 4091u);
  EXPECT_EQ(decoded.index.size, 15u);
}

struct CorruptionCase {
  const char* name;
  // Changes a valid table file.
  void (*damage)(std::string* file);
  const char* message_part;
};

class TableCorruptionTest : public ::testing::TestWithParam<CorruptionCase> {};

TEST_P(TableCorruptionTest, FailsWithDataLoss) {
  std::string file = build_table(sample_entries(40), {16, 512, GetParam().name[0] == 'S'});
  GetParam().damage(&file);
  TableEntries read;
  const Status s = parse_table(file, "vars.index", &read);
  EXPECT_EQ(s.code(), TF_DATA_LOSS) << s.message();
  EXPECT_NE(s.message().find("vars.index"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find(GetParam().message_part), std::string::npos) << s.message();
}

INSTANTIATE_TEST_SUITE_P(
    Damage, TableCorruptionTest,
    ::testing::Values(
        CorruptionCase{"BadMagic", [](std::string* f) { (*f)[f->size() - 1] ^= 0x01; }, "magic"},
        CorruptionCase{"Truncated", [](std::string* f) { f->resize(f->size() - 20); }, "magic"},
        CorruptionCase{"TooShort", [](std::string* f) { f->resize(30); }, "too short"},
        CorruptionCase{"FlippedDataByte", [](std::string* f) { (*f)[10] ^= 0x40; }, "checksum"},
        CorruptionCase{"SnappyFlippedByte", [](std::string* f) { (*f)[3] ^= 0x40; }, "checksum"},
        CorruptionCase{"BadCrcInTrailer",
                       [](std::string* f) {
                         // First data block's trailer sits right before the second block;
                         // find it through the footer-independent fact that block 0 starts at 0.
                         std::string_view in(*f);
                         in.remove_prefix(f->size() - kFooterLength);
                         Footer footer;
                         (void)footer.decode_from(in, "x");
                         (*f)[footer.index.offset + footer.index.size + 2] ^= 0x10;
                       },
                       "checksum"},
        CorruptionCase{"IndexHandleOutOfRange",
                       [](std::string* f) {
                         // Point the footer's index handle past the end of the file.
                         std::string footer;
                         Footer bad;
                         bad.index = {f->size() + 100, 10};
                         bad.encode_to(&footer);
                         f->replace(f->size() - kFooterLength, kFooterLength, footer);
                       },
                       "past the end"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(TableBlock, RejectsEntryRunningPastBlock) {
  // One entry claiming a 200-byte value in a 10-byte block, restart array [0], count 1.
  std::string block;
  put_varint64(&block, 0);
  put_varint64(&block, 1);
  put_varint64(&block, 200);
  block += "k";
  put_fixed32(&block, 0);
  put_fixed32(&block, 1);
  TableEntries out;
  const Status s = decode_block(block, "blk", &out);
  EXPECT_EQ(s.code(), TF_DATA_LOSS);
  EXPECT_NE(s.message().find("runs past"), std::string::npos) << s.message();
}

TEST(TableBlock, RejectsBadRestartCountAndSharedPrefixAtRestart) {
  std::string huge_count;
  put_fixed32(&huge_count, 0);
  put_fixed32(&huge_count, 1000);
  TableEntries out;
  EXPECT_EQ(decode_block(huge_count, "blk", &out).code(), TF_DATA_LOSS);

  std::string shared_at_restart;
  put_varint64(&shared_at_restart, 2);  // shares 2 bytes with a key that does not exist
  put_varint64(&shared_at_restart, 1);
  put_varint64(&shared_at_restart, 0);
  shared_at_restart += "k";
  put_fixed32(&shared_at_restart, 0);
  put_fixed32(&shared_at_restart, 1);
  EXPECT_EQ(decode_block(shared_at_restart, "blk", &out).code(), TF_DATA_LOSS);
}

TEST(TableBlock, RejectsKeysOutOfOrder) {
  std::string block;
  for (const char* key : {"b", "a"}) {
    put_varint64(&block, 0);
    put_varint64(&block, 1);
    put_varint64(&block, 0);
    block += key;
  }
  put_fixed32(&block, 0);
  put_fixed32(&block, 1);
  TableEntries out;
  const Status s = decode_block(block, "blk", &out);
  EXPECT_EQ(s.code(), TF_DATA_LOSS);
  EXPECT_NE(s.message().find("order"), std::string::npos);
}

TEST(Table, MissingFileIsNotFound) {
  TableEntries read;
  const Status s = read_table("/nonexistent/dir/variables.index", &read);
  EXPECT_EQ(s.code(), TF_NOT_FOUND);
  EXPECT_NE(s.message().find("variables.index"), std::string::npos);
}

}  // namespace
}  // namespace qtf
