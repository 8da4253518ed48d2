// Checkpoint writing: the sorted-table bytes, the tensor bundle entries and
// data, and the object graph, checked with a separate decoder and against the
// runtime's own table reader.
#include <gtest/gtest.h>

#include "bundle_writer.h"
#include "checkpoint/bundle_reader.h"
#include "checkpoint/table.h"
#include "object_graph.h"
#include "table_builder.h"
#include "table_decoder.h"
#include "tensor_bundle.pb.h"
#include "util/crc32c.h"

namespace {

using qsm_test::decode_table;
using qsm_test::DecodedBlock;
using qsm_test::DecodedTable;

uint32_t block_crc(const std::string& file, const DecodedBlock& b) {
  return qtf::crc32c_unmask(b.stored_crc) ==
                 qtf::crc32c(file.data() + b.offset, static_cast<size_t>(b.size) + 1)
             ? 1u
             : 0u;
}

std::string key_of(int k) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "layer%03d/kernel", k);
  return buf;
}

TEST(TableBuilder, EmptyTableHasFooterMagicAndEmptyMetaindex) {
  qsm::TableBuilder builder;
  const std::string file = builder.finish();
  const DecodedTable t = decode_table(file);
  ASSERT_EQ(t.error, "");
  EXPECT_EQ(t.magic, 0xdb4775248b80fb57ull);
  EXPECT_EQ(file.substr(file.size() - 8), std::string("\x57\xfb\x80\x8b\x24\x75\x47\xdb", 8));
  // The empty metaindex block is 8 bytes (one restart at 0) and its trailer
  // is the one TensorFlow writes: type 0, CRC c0 f2 a1 b0.
  EXPECT_EQ(t.metaindex.size, 8u);
  EXPECT_EQ(file.substr(t.metaindex.offset, 13),
            std::string("\0\0\0\0\x01\0\0\0\0\xc0\xf2\xa1\xb0", 13));
  EXPECT_TRUE(t.index.entries.empty());
  EXPECT_TRUE(t.data.empty());
}

TEST(TableBuilder, RestartsEvery16EntriesIndexEvery1AndCrcsHold) {
  qsm::TableBuilder builder;
  for (int k = 0; k < 40; ++k) ASSERT_TRUE(builder.add(key_of(k), "value" + std::to_string(k)));
  const std::string file = builder.finish();
  const DecodedTable t = decode_table(file);
  ASSERT_EQ(t.error, "");
  ASSERT_EQ(t.data.size(), 1u);
  const DecodedBlock& b = t.data[0];
  ASSERT_EQ(b.entries.size(), 40u);
  ASSERT_EQ(b.restarts.size(), 3u);  // entries 0, 16, 32
  EXPECT_EQ(b.restarts[0], 0u);
  for (size_t k = 0; k < b.entries.size(); ++k) {
    EXPECT_EQ(b.entries[k].first, key_of(static_cast<int>(k)));
    EXPECT_EQ(b.entries[k].second, "value" + std::to_string(k));
    if (k % 16 == 0) {
      EXPECT_EQ(b.shared[k], 0u) << k;
    } else {
      EXPECT_GT(b.shared[k], 0u) << k;  // prefix-compressed between restarts
    }
  }
  EXPECT_EQ(b.type, 0);
  EXPECT_EQ(t.index.restarts.size(), t.index.entries.size());
  for (const DecodedBlock* blk : {&t.metaindex, &t.index, &t.data[0]}) {
    EXPECT_EQ(block_crc(file, *blk), 1u) << "block at " << blk->offset;
  }
  // The last block's index key is the short successor of its last key.
  EXPECT_EQ(t.index.entries[0].first, "m");
}

TEST(TableBuilder, CutsBlocksNear256KiBWithSeparatorKeys) {
  qsm::TableBuilder builder;
  const std::string big(100 * 1024, 'x');
  for (int k = 0; k < 7; ++k) ASSERT_TRUE(builder.add(key_of(k), big));
  const std::string file = builder.finish();
  const DecodedTable t = decode_table(file);
  ASSERT_EQ(t.error, "");
  // 3 values pass 256 KiB, so blocks hold 3, 3 and 1 entries.
  ASSERT_EQ(t.data.size(), 3u);
  EXPECT_EQ(t.data[0].entries.size(), 3u);
  EXPECT_EQ(t.data[1].entries.size(), 3u);
  EXPECT_EQ(t.data[2].entries.size(), 1u);
  for (size_t k = 0; k < t.data.size(); ++k) {
    const std::string& sep = t.index.entries[k].first;
    EXPECT_GE(sep, t.data[k].entries.back().first);
    if (k + 1 < t.data.size()) {
      EXPECT_LT(sep, t.data[k + 1].entries.front().first);
    }
    EXPECT_EQ(block_crc(file, t.data[k]), 1u);
  }
  // The runtime's reader sees the same entries.
  qtf::TableEntries entries;
  ASSERT_TRUE(qtf::parse_table(file, "test.index", &entries).is_ok());
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_EQ(entries[6].first, key_of(6));
  EXPECT_EQ(entries[6].second, big);
}

TEST(TableBuilder, RejectsKeysOutOfOrder) {
  qsm::TableBuilder builder;
  EXPECT_TRUE(builder.add("b", "1"));
  EXPECT_FALSE(builder.add("b", "2"));
  EXPECT_FALSE(builder.add("a", "3"));
  EXPECT_TRUE(builder.add("c", "4"));
  const DecodedTable t = decode_table(builder.finish());
  ASSERT_EQ(t.data.size(), 1u);
  ASSERT_EQ(t.data[0].entries.size(), 2u);
  EXPECT_EQ(t.data[0].entries[1].second, "4");
}

TEST(TableBuilder, SeparatorAndSuccessorRules) {
  struct Case {
    std::string start, limit, separator;
  } cases[] = {
      {"abcdef", "abzz", "abd"},
      {"abc", "abcd", "abc"},          // prefix: unchanged
      {"abc", "abd", "abc"},           // next byte is the limit's: unchanged
      {"a\xff", "b", "a\xff"},
      {"layer1/kernel", "layer2", "layer1/kernel"},
      {"conv/bias", "zeta", "d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qsm::shortest_separator(c.start, c.limit), c.separator) << c.start << " / " << c.limit;
  }
  EXPECT_EQ(qsm::short_successor("optimizer/iter"), "p");
  EXPECT_EQ(qsm::short_successor("\xff\xff" "a"), "\xff\xff" "b");
  EXPECT_EQ(qsm::short_successor("\xff\xff"), "\xff\xff");
  EXPECT_EQ(qsm::short_successor(""), "");
}

std::map<std::string, std::string> table_entries(const std::string& file) {
  const DecodedTable t = decode_table(file);
  std::map<std::string, std::string> out;
  for (const auto& b : t.data) {
    for (const auto& e : b.entries) out[e.first] = e.second;
  }
  return out;
}

TEST(BundleWriter, WritesHeaderEntriesAndCheckedData) {
  qsm::BundleWriter bundle;
  const std::vector<float> w = {1.5f, -2.0f, 0.25f, 8.0f, 0.0f, -0.5f};
  ASSERT_TRUE(bundle.add("w/.ATTRIBUTES/VARIABLE_VALUE", qsm::TensorValue::floats({2, 3}, w)).is_ok());
  ASSERT_TRUE(bundle.add("a/.ATTRIBUTES/VARIABLE_VALUE", qsm::TensorValue::int64s({}, {42})).is_ok());
  ASSERT_TRUE(bundle.add("_CHECKPOINTABLE_OBJECT_GRAPH", qsm::TensorValue::string_values({}, {"hello"})).is_ok());
  std::string index, data;
  ASSERT_TRUE(bundle.finish(&index, &data).is_ok());

  const auto entries = table_entries(index);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries.at(""), std::string("\x08\x01\x1a\x02\x08\x01", 6));  // num_shards 1, producer 1
  size_t total = 0;
  for (const auto& [key, value] : entries) {
    if (key.empty()) continue;
    tensorflow::BundleEntryProto e;
    ASSERT_TRUE(e.ParseFromString(value)) << key;
    EXPECT_EQ(e.shard_id(), 0);
    ASSERT_LE(static_cast<size_t>(e.offset() + e.size()), data.size());
    const std::string bytes = data.substr(static_cast<size_t>(e.offset()), static_cast<size_t>(e.size()));
    total += bytes.size();
    if (key == "w/.ATTRIBUTES/VARIABLE_VALUE") {
      EXPECT_EQ(e.dtype(), tensorflow::DT_FLOAT);
      ASSERT_EQ(e.shape().dim_size(), 2);
      EXPECT_EQ(e.shape().dim(1).size(), 3);
      EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(w.data()), 24));
      EXPECT_EQ(qtf::crc32c_unmask(e.crc32c()), qtf::crc32c(bytes.data(), bytes.size()));
    } else if (key == "a/.ATTRIBUTES/VARIABLE_VALUE") {
      EXPECT_EQ(e.dtype(), tensorflow::DT_INT64);
      EXPECT_EQ(e.shape().dim_size(), 0);
      EXPECT_EQ(bytes.size(), 8u);
    } else {
      // String layout: varint length 5, masked CRC of the 4-byte length, bytes.
      EXPECT_EQ(e.dtype(), tensorflow::DT_STRING);
      ASSERT_EQ(bytes.size(), 1u + 4u + 5u);
      EXPECT_EQ(bytes[0], 5);
      const uint32_t len_le = 5;
      EXPECT_EQ(qsm_test::get_fixed32(bytes, 1), qtf::crc32c_mask(qtf::crc32c(&len_le, 4)));
      EXPECT_EQ(bytes.substr(5), "hello");
      uint32_t crc = qtf::crc32c(&len_le, 4);
      crc = qtf::crc32c_extend(crc, bytes.data() + 1, 4);
      crc = qtf::crc32c_extend(crc, "hello", 5);
      EXPECT_EQ(qtf::crc32c_unmask(e.crc32c()), crc);
    }
  }
  EXPECT_EQ(total, data.size());  // no gaps, no overlap
}

TEST(BundleWriter, RejectsDuplicateKeysAndMismatchedValues) {
  qsm::BundleWriter bundle;
  EXPECT_TRUE(bundle.add("k", qsm::TensorValue::scalar(1.0f)).is_ok());
  EXPECT_FALSE(bundle.add("k", qsm::TensorValue::scalar(2.0f)).is_ok());
  EXPECT_FALSE(bundle.add("", qsm::TensorValue::scalar(2.0f)).is_ok());
  EXPECT_FALSE(bundle.add("short", qsm::TensorValue::floats({2, 2}, {1, 2, 3})).is_ok());
  EXPECT_FALSE(bundle.add("strings", qsm::TensorValue::string_values({2}, {"one"})).is_ok());
}

TEST(BundleWriter, StringCrcMatchesRuntimeDecoder) {
  const qsm::TensorValue v = qsm::TensorValue::string_values({3}, {"", "ab", std::string(300, 'z')});
  uint32_t crc = 0;
  const std::string bytes = qsm::bundle_tensor_bytes(v, &crc);
  EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0xac);  // 300 as varint: ac 02
  std::vector<std::string> values;
  uint32_t decoded_crc = 0;
  ASSERT_TRUE(qtf::decode_bundle_strings(bytes, 3, "test", &values, &decoded_crc).is_ok());
  EXPECT_EQ(values, v.strings);
  EXPECT_EQ(decoded_crc, crc);
}

TEST(ObjectGraph, CheckpointKeysEscapeDots) {
  struct Case {
    const char* name;
    const char* key;
  } cases[] = {
      {"a", "a/.ATTRIBUTES/VARIABLE_VALUE"},
      {"conv1/kernel", "conv1/kernel/.ATTRIBUTES/VARIABLE_VALUE"},
      {"block.1/w", "block..1/w/.ATTRIBUTES/VARIABLE_VALUE"},
  };
  for (const Case& c : cases) EXPECT_EQ(qsm::variable_checkpoint_key(c.name), c.key);
}

TEST(ObjectGraph, OneObjectPerPathComponent) {
  // root, conv, dense, conv/kernel, conv/bias, dense/w: 6 objects, each a
  // length-delimited field 1 of the graph.
  const std::string g = qsm::object_graph_bytes({"conv/kernel", "conv/bias", "dense/w"});
  size_t pos = 0;
  int objects = 0;
  while (pos < g.size()) {
    ASSERT_EQ(g[pos++], '\x0a');
    uint64_t len = 0;
    ASSERT_TRUE(qsm_test::get_varint(g, &pos, &len));
    pos += len;
    ++objects;
  }
  EXPECT_EQ(pos, g.size());
  EXPECT_EQ(objects, 6);
  EXPECT_NE(g.find("conv/kernel/.ATTRIBUTES/VARIABLE_VALUE"), std::string::npos);
  EXPECT_NE(g.find("VARIABLE_VALUE"), std::string::npos);
}

}  // namespace
