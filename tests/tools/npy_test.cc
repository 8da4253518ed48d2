// .npy reading and writing: round trips for every supported type and shape
// form, the exact header layout NumPy expects, and rejection of bad files.
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstring>

#include "npy.h"

namespace {

using quarrow::models::NpyArray;

NpyArray make(TF_DataType dtype, std::vector<int64_t> shape, size_t item) {
  NpyArray a;
  a.dtype = dtype;
  a.shape = std::move(shape);
  a.data.resize(static_cast<size_t>(a.num_elements()) * item);
  for (size_t k = 0; k < a.data.size(); ++k) a.data[k] = static_cast<char>(k * 7 + 1);
  return a;
}

TEST(Npy, RoundTripsEveryTypeAndShape) {
  struct Case {
    TF_DataType dtype;
    size_t item;
    const char* descr;
  } types[] = {{TF_FLOAT, 4, "<f4"}, {TF_DOUBLE, 8, "<f8"}, {TF_INT32, 4, "<i4"},
               {TF_INT64, 8, "<i8"}, {TF_UINT8, 1, "|u1"},  {TF_BOOL, 1, "|b1"}};
  const std::vector<std::vector<int64_t>> shapes = {{}, {1}, {3}, {2, 3}, {1, 2, 2, 3}, {0, 4}};
  for (const Case& t : types) {
    EXPECT_EQ(quarrow::models::npy_descr(t.dtype), t.descr);
    for (const auto& shape : shapes) {
      const NpyArray a = make(t.dtype, shape, t.item);
      const std::string bytes = quarrow::models::serialize_npy(a);
      // Data starts on a 64-byte boundary and the header ends with '\n'.
      const size_t header_len = static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
      EXPECT_EQ((10 + header_len) % 64, 0u);
      EXPECT_EQ(bytes[10 + header_len - 1], '\n');
      NpyArray b;
      std::string error;
      ASSERT_TRUE(quarrow::models::parse_npy(bytes, &b, &error)) << t.descr << ": " << error;
      EXPECT_EQ(b.dtype, a.dtype);
      EXPECT_EQ(b.shape, a.shape);
      EXPECT_EQ(b.data, a.data);
    }
  }
}

TEST(Npy, HeaderTextMatchesNumPy) {
  NpyArray a = make(TF_FLOAT, {3}, 4);
  std::string bytes = quarrow::models::serialize_npy(a);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
  EXPECT_NE(bytes.find("{'descr': '<f4', 'fortran_order': False, 'shape': (3,), }"), std::string::npos);
  a = make(TF_FLOAT, {}, 4);
  EXPECT_NE(quarrow::models::serialize_npy(a).find("'shape': (), }"), std::string::npos);
  a = make(TF_FLOAT, {1, 256}, 4);
  EXPECT_NE(quarrow::models::serialize_npy(a).find("'shape': (1, 256), }"), std::string::npos);
}

TEST(Npy, ReadsVersion2AndDoubleQuotedFields) {
  const std::string header = "{\"descr\": \"<i4\", \"fortran_order\": False, \"shape\": (2,)}\n";
  std::string bytes("\x93NUMPY\x02\x00", 8);
  const uint32_t len = static_cast<uint32_t>(header.size());
  bytes.append(reinterpret_cast<const char*>(&len), 4);
  bytes += header;
  const int32_t values[] = {7, -9};
  bytes.append(reinterpret_cast<const char*>(values), 8);
  NpyArray a;
  std::string error;
  ASSERT_TRUE(quarrow::models::parse_npy(bytes, &a, &error)) << error;
  EXPECT_EQ(a.dtype, TF_INT32);
  int32_t back[2];
  std::memcpy(back, a.data.data(), 8);
  EXPECT_EQ(back[1], -9);
}

TEST(Npy, RejectsMalformedFiles) {
  const std::string good = quarrow::models::serialize_npy(make(TF_FLOAT, {2, 2}, 4));
  auto with_header = [](const std::string& header, size_t data_bytes) {
    std::string b("\x93NUMPY\x01\x00", 8);
    b += static_cast<char>(header.size() & 0xff);
    b += static_cast<char>(header.size() >> 8);
    return b + header + std::string(data_bytes, '\0');
  };
  struct Case {
    const char* what;
    std::string bytes;
    const char* message_part;
  } cases[] = {
      {"empty", "", "magic"},
      {"bad magic", "\x93NUMPX" + good.substr(6), "magic"},
      {"truncated data", good.substr(0, good.size() - 1), "bytes"},
      {"extra data", good + "x", "bytes"},
      {"header longer than file", good.substr(0, 20), "truncated"},
      {"big endian", with_header("{'descr': '>f4', 'fortran_order': False, 'shape': (1,), }\n", 4), "unsupported"},
      {"complex", with_header("{'descr': '<c8', 'fortran_order': False, 'shape': (1,), }\n", 8), "unsupported"},
      {"fortran", with_header("{'descr': '<f4', 'fortran_order': True, 'shape': (2, 2), }\n", 16), "Fortran"},
      {"negative dim", with_header("{'descr': '<f4', 'fortran_order': False, 'shape': (-1,), }\n", 4), "dimension"},
      {"no shape", with_header("{'descr': '<f4', 'fortran_order': False, }\n", 4), "shape"},
      {"huge shape",
       with_header("{'descr': '<f8', 'fortran_order': False, 'shape': (999999999999, 999999999999), }\n", 8),
       "too large"},
      {"version 9", "\x93NUMPY\x09" + good.substr(7), "version"},
  };
  for (const Case& c : cases) {
    NpyArray a;
    std::string error;
    EXPECT_FALSE(quarrow::models::parse_npy(c.bytes, &a, &error)) << c.what;
    EXPECT_NE(error.find(c.message_part), std::string::npos) << c.what << ": " << error;
  }
}

TEST(Npy, FilesNameThemselvesInErrors) {
  NpyArray a;
  std::string error;
  EXPECT_FALSE(quarrow::models::read_npy("/nonexistent/in.npy", &a, &error));
  EXPECT_NE(error.find("/nonexistent/in.npy"), std::string::npos);
  const std::string path = ::testing::TempDir() + "/" + std::to_string(getpid()) + "_npy_round_trip.npy";
  const NpyArray b = make(TF_INT64, {2, 2}, 8);
  ASSERT_TRUE(quarrow::models::write_npy(path, b, &error)) << error;
  ASSERT_TRUE(quarrow::models::read_npy(path, &a, &error)) << error;
  EXPECT_EQ(a.data, b.data);
  NpyArray s;
  s.dtype = TF_STRING;
  EXPECT_FALSE(quarrow::models::write_npy(path, s, &error));
}

}  // namespace
