#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "checkpoint/bundle_reader.h"
#include "checkpoint_test_util.h"
#include "temp_dir.h"

namespace qtf {
namespace {

using testing::BundleBuilder;
using testing::TempDir;

BundleBuilder sample_bundle() {
  BundleBuilder b;
  b.add<float>("a/.ATTRIBUTES/VARIABLE_VALUE", tensorflow::DT_FLOAT, {2, 2}, {1.5f, -2.f, 3.f, 0.25f});
  b.add<double>("d", tensorflow::DT_DOUBLE, {}, {6.5});
  b.add<int64_t>("optimizer/iter", tensorflow::DT_INT64, {}, {12345678901LL});
  b.add<int32_t>("i32", tensorflow::DT_INT32, {3}, {-1, 0, 7});
  b.add<int16_t>("i16", tensorflow::DT_INT16, {2}, {-300, 300});
  b.add<int8_t>("i8", tensorflow::DT_INT8, {2}, {-5, 5});
  b.add<uint8_t>("u8", tensorflow::DT_UINT8, {3}, {0, 128, 255});
  b.add<uint8_t>("flags", tensorflow::DT_BOOL, {2}, {1, 0});
  b.add<float>("empty", tensorflow::DT_FLOAT, {0, 4}, {});
  b.add_strings("_CHECKPOINTABLE_OBJECT_GRAPH", {}, {std::string(300, 'g')});
  b.add_strings("names", {3}, {"alpha", "", "gamma"});
  return b;
}

template <typename T>
std::vector<T> values_of(const Tensor& t) {
  std::vector<T> out(static_cast<size_t>(t.num_elements()));
  if (!out.empty()) std::memcpy(out.data(), t.raw(), out.size() * sizeof(T));
  return out;
}

TEST(BundleReader, ReadsEveryTypeWithItsShape) {
  TempDir dir;
  sample_bundle().write(dir.file("ckpt"));
  BundleReader reader;
  ASSERT_TRUE(reader.open(dir.file("ckpt")).is_ok());
  EXPECT_EQ(reader.keys().size(), 11u);

  Tensor t;
  ASSERT_TRUE(reader.read("a/.ATTRIBUTES/VARIABLE_VALUE", &t).is_ok());
  EXPECT_EQ(t.dtype(), TF_FLOAT);
  EXPECT_EQ(t.shape(), (Shape{2, 2}));
  EXPECT_EQ(values_of<float>(t), (std::vector<float>{1.5f, -2.f, 3.f, 0.25f}));

  ASSERT_TRUE(reader.read("d", &t).is_ok());
  EXPECT_EQ(t.shape(), Shape{});
  EXPECT_EQ(values_of<double>(t), std::vector<double>{6.5});
  ASSERT_TRUE(reader.read("optimizer/iter", &t).is_ok());
  EXPECT_EQ(values_of<int64_t>(t), std::vector<int64_t>{12345678901LL});
  ASSERT_TRUE(reader.read("i32", &t).is_ok());
  EXPECT_EQ(values_of<int32_t>(t), (std::vector<int32_t>{-1, 0, 7}));
  ASSERT_TRUE(reader.read("i16", &t).is_ok());
  EXPECT_EQ(values_of<int16_t>(t), (std::vector<int16_t>{-300, 300}));
  ASSERT_TRUE(reader.read("i8", &t).is_ok());
  EXPECT_EQ(values_of<int8_t>(t), (std::vector<int8_t>{-5, 5}));
  ASSERT_TRUE(reader.read("u8", &t).is_ok());
  EXPECT_EQ(values_of<uint8_t>(t), (std::vector<uint8_t>{0, 128, 255}));
  ASSERT_TRUE(reader.read("flags", &t).is_ok());
  EXPECT_EQ(t.dtype(), TF_BOOL);
  EXPECT_EQ(values_of<uint8_t>(t), (std::vector<uint8_t>{1, 0}));
  ASSERT_TRUE(reader.read("empty", &t).is_ok());
  EXPECT_EQ(t.shape(), (Shape{0, 4}));

  ASSERT_TRUE(reader.read("names", &t).is_ok());
  EXPECT_EQ(t.dtype(), TF_STRING);
  EXPECT_EQ(t.string_values(), (std::vector<std::string>{"alpha", "", "gamma"}));
  ASSERT_TRUE(reader.read("_CHECKPOINTABLE_OBJECT_GRAPH", &t).is_ok());
  ASSERT_EQ(t.string_values().size(), 1u);
  EXPECT_EQ(t.string_values()[0], std::string(300, 'g'));
}

TEST(BundleReader, ReadsSnappyIndexAndBigEndianData) {
  TempDir dir;
  BundleBuilder b;
  // Big-endian int32 1 and 2.
  const std::string be("\x00\x00\x00\x01\x00\x00\x00\x02", 8);
  b.add_raw("v", tensorflow::DT_INT32, {2}, be);
  b.header().set_endianness(tensorflow::BundleHeaderProto::BIG);
  b.write(dir.file("ckpt"), {16, 64, true});
  BundleReader reader;
  ASSERT_TRUE(reader.open(dir.file("ckpt")).is_ok());
  Tensor t;
  ASSERT_TRUE(reader.read("v", &t).is_ok());
  EXPECT_EQ(values_of<int32_t>(t), (std::vector<int32_t>{1, 2}));
}

TEST(BundleReader, UnknownKeyIsNotFound) {
  TempDir dir;
  sample_bundle().write(dir.file("ckpt"));
  BundleReader reader;
  ASSERT_TRUE(reader.open(dir.file("ckpt")).is_ok());
  Tensor t;
  const Status s = reader.read("nope", &t);
  EXPECT_EQ(s.code(), TF_NOT_FOUND);
  EXPECT_NE(s.message().find("nope"), std::string::npos);
}

struct EntryDamage {
  const char* name;
  void (*damage)(BundleBuilder* b);
  const char* key;
  TF_Code code;
  const char* message_part;
};

class BundleDamageTest : public ::testing::TestWithParam<EntryDamage> {};

TEST_P(BundleDamageTest, ReportsPreciseError) {
  TempDir dir;
  BundleBuilder b = sample_bundle();
  GetParam().damage(&b);
  b.write(dir.file("ckpt"));
  BundleReader reader;
  Status s = reader.open(dir.file("ckpt"));
  if (s.is_ok()) {
    Tensor t;
    s = reader.read(GetParam().key, &t);
  }
  EXPECT_EQ(s.code(), GetParam().code) << s.message();
  EXPECT_NE(s.message().find(GetParam().message_part), std::string::npos) << s.message();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BundleDamageTest,
    ::testing::Values(
        EntryDamage{"DataByteFlipped", [](BundleBuilder* b) { b->data()[1] ^= 0x08; },
                    "a/.ATTRIBUTES/VARIABLE_VALUE", TF_DATA_LOSS, "checksum"},
        EntryDamage{"StringByteFlipped",
                    [](BundleBuilder* b) { b->data()[b->data().size() - 2] ^= 0x08; }, "names",
                    TF_DATA_LOSS, "checksum"},
        EntryDamage{"StringLengthsChecksum",
                    [](BundleBuilder* b) {
                      auto& e = b->entry("names");
                      b->data()[static_cast<size_t>(e.offset()) + 3] ^= 0x01;
                    },
                    "names", TF_DATA_LOSS, "lengths checksum"},
        EntryDamage{"SizeNotMatchingShape",
                    [](BundleBuilder* b) { b->entry("i32").mutable_shape()->mutable_dim(0)->set_size(4); },
                    "i32", TF_DATA_LOSS, "does not match shape"},
        EntryDamage{"OffsetOutOfRange",
                    [](BundleBuilder* b) { b->entry("d").set_offset(1 << 20); }, "d", TF_DATA_LOSS,
                    "outside"},
        EntryDamage{"TruncatedDataFile", [](BundleBuilder* b) { b->data().resize(20); },
                    "names", TF_DATA_LOSS, "outside"},
        EntryDamage{"BadShard", [](BundleBuilder* b) { b->entry("d").set_shard_id(3); }, "d",
                    TF_DATA_LOSS, "shard"},
        EntryDamage{"NegativeDim",
                    [](BundleBuilder* b) { b->entry("d").mutable_shape()->add_dim()->set_size(-1); },
                    "d", TF_DATA_LOSS, "negative"},
        EntryDamage{"Sliced",
                    [](BundleBuilder* b) { b->entry("d").add_slices(); }, "d", TF_UNIMPLEMENTED,
                    "partitioned"},
        EntryDamage{"UnsupportedType",
                    [](BundleBuilder* b) { b->entry("d").set_dtype(tensorflow::DT_VARIANT); }, "d",
                    TF_UNIMPLEMENTED, "variant"},
        EntryDamage{"NoShards", [](BundleBuilder* b) { b->header().set_num_shards(0); }, "d",
                    TF_DATA_LOSS, "shards"},
        EntryDamage{"TooNewVersion",
                    [](BundleBuilder* b) { b->header().mutable_version()->set_min_consumer(7); },
                    "d", TF_DATA_LOSS, "version"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(BundleReader, MissingFilesAreNotFound) {
  TempDir dir;
  BundleReader reader;
  EXPECT_EQ(reader.open(dir.file("nothing")).code(), TF_NOT_FOUND);

  sample_bundle().write(dir.file("ckpt"));
  std::remove(dir.file("ckpt.data-00000-of-00001").c_str());
  ASSERT_TRUE(reader.open(dir.file("ckpt")).is_ok());
  Tensor t;
  const Status s = reader.read("d", &t);
  EXPECT_EQ(s.code(), TF_NOT_FOUND);
  EXPECT_NE(s.message().find("ckpt.data-00000-of-00001"), std::string::npos) << s.message();
}

TEST(BundleStrings, RejectsLengthsBeyondTheBytes) {
  std::string bytes;
  put_varint64(&bytes, 1000);
  put_fixed32(&bytes, 0);
  bytes += "abc";
  std::vector<std::string> values;
  uint32_t crc = 0;
  EXPECT_EQ(decode_bundle_strings(bytes, 1, "t", &values, &crc).code(), TF_DATA_LOSS);
  EXPECT_EQ(decode_bundle_strings(bytes, 1 << 30, "t", &values, &crc).code(), TF_DATA_LOSS);
}

TEST(BundleReader, ReadsRealTensorFlowCheckpoint) {
  const std::string prefix =
      std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/half_plus_two_tf2/variables/variables";
  BundleReader reader;
  const Status opened = reader.open(prefix);
  if (opened.code() == TF_NOT_FOUND) GTEST_SKIP() << "fixture absent";
  ASSERT_TRUE(opened.is_ok()) << opened.message();
  const struct {
    const char* key;
    float value;
  } expected[] = {{"a/.ATTRIBUTES/VARIABLE_VALUE", 0.5f},
                  {"b/.ATTRIBUTES/VARIABLE_VALUE", 2.0f},
                  {"c/.ATTRIBUTES/VARIABLE_VALUE", 3.0f}};
  for (const auto& e : expected) {
    Tensor t;
    ASSERT_TRUE(reader.read(e.key, &t).is_ok()) << e.key;
    ASSERT_EQ(t.dtype(), TF_FLOAT);
    ASSERT_EQ(t.num_elements(), 1);
    EXPECT_EQ(*t.data<float>(), e.value) << e.key;
  }
  Tensor graph;
  ASSERT_TRUE(reader.read("_CHECKPOINTABLE_OBJECT_GRAPH", &graph).is_ok());
  ASSERT_EQ(graph.dtype(), TF_STRING);
  EXPECT_FALSE(graph.string_values().at(0).empty());
}

}  // namespace
}  // namespace qtf
