#include "graph/tensor_proto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "util/coding.h"

namespace qtf {
namespace {

tensorflow::TensorProto proto(tensorflow::DataType dtype, std::vector<int64_t> dims) {
  tensorflow::TensorProto p;
  p.set_dtype(dtype);
  for (int64_t d : dims) p.mutable_tensor_shape()->add_dim()->set_size(d);
  return p;
}

template <typename T>
std::vector<T> decoded(const tensorflow::TensorProto& p) {
  Tensor t;
  const Status s = tensor_from_proto(p, "c: ", &t);
  EXPECT_TRUE(s.is_ok()) << s.message();
  if (!s.is_ok()) return {};
  std::vector<T> out(static_cast<size_t>(t.num_elements()));
  if (!out.empty()) std::memcpy(out.data(), t.raw(), out.size() * sizeof(T));
  return out;
}

TEST(TensorProto, ShortValueListRepeatsItsLastValue) {
  auto p = proto(tensorflow::DT_FLOAT, {2, 3});
  p.add_float_val(1.0f);
  p.add_float_val(2.5f);
  EXPECT_EQ(decoded<float>(p), (std::vector<float>{1.0f, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f}));

  auto scalar_broadcast = proto(tensorflow::DT_INT32, {4});
  scalar_broadcast.add_int_val(-7);
  EXPECT_EQ(decoded<int32_t>(scalar_broadcast), (std::vector<int32_t>{-7, -7, -7, -7}));

  auto longer = proto(tensorflow::DT_INT64, {2});
  for (int64_t v : {5, 6, 7}) longer.add_int64_val(v);
  EXPECT_EQ(decoded<int64_t>(longer), (std::vector<int64_t>{5, 6}));
}

TEST(TensorProto, EmptyValueListMeansZeros) {
  EXPECT_EQ(decoded<double>(proto(tensorflow::DT_DOUBLE, {3})), (std::vector<double>{0, 0, 0}));
  auto b = proto(tensorflow::DT_BOOL, {2});
  EXPECT_EQ(decoded<uint8_t>(b), (std::vector<uint8_t>{0, 0}));
}

TEST(TensorProto, TensorContentWinsOverValueList) {
  auto p = proto(tensorflow::DT_FLOAT, {2});
  const float raw[2] = {3.0f, -1.0f};
  p.set_tensor_content(std::string(reinterpret_cast<const char*>(raw), sizeof raw));
  p.add_float_val(9.0f);
  EXPECT_EQ(decoded<float>(p), (std::vector<float>{3.0f, -1.0f}));
}

TEST(TensorProto, NarrowIntegersAndHalfComeFromWideFields) {
  auto u8 = proto(tensorflow::DT_UINT8, {2});
  u8.add_int_val(200);
  u8.add_int_val(7);
  EXPECT_EQ(decoded<uint8_t>(u8), (std::vector<uint8_t>{200, 7}));
  auto i16 = proto(tensorflow::DT_INT16, {1});
  i16.add_int_val(-1234);
  EXPECT_EQ(decoded<int16_t>(i16), std::vector<int16_t>{-1234});
  auto half = proto(tensorflow::DT_HALF, {2});
  half.add_half_val(0x3C00);  // 1.0
  EXPECT_EQ(decoded<uint16_t>(half), (std::vector<uint16_t>{0x3C00, 0x3C00}));
}

TEST(TensorProto, Strings) {
  auto p = proto(tensorflow::DT_STRING, {3});
  p.add_string_val("a");
  p.add_string_val("bc");
  Tensor t;
  ASSERT_TRUE(tensor_from_proto(p, "", &t).is_ok());
  EXPECT_EQ(t.string_values(), (std::vector<std::string>{"a", "bc", "bc"}));

  auto packed = proto(tensorflow::DT_STRING, {2});
  std::string content;
  put_varint64(&content, 3);
  put_varint64(&content, 0);
  content += "xyz";
  packed.set_tensor_content(content);
  ASSERT_TRUE(tensor_from_proto(packed, "", &t).is_ok());
  EXPECT_EQ(t.string_values(), (std::vector<std::string>{"xyz", ""}));
}

TEST(TensorProto, RejectsBadContentAndShapes) {
  auto p = proto(tensorflow::DT_FLOAT, {3});
  p.set_tensor_content(std::string(8, '\0'));
  Tensor t;
  Status s = tensor_from_proto(p, "Const node 'k': ", &t);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("Const node 'k'"), std::string::npos);

  auto unknown = proto(tensorflow::DT_FLOAT, {-1});
  EXPECT_EQ(tensor_from_proto(unknown, "", &t).code(), TF_INVALID_ARGUMENT);

  auto short_strings = proto(tensorflow::DT_STRING, {2});
  std::string content;
  put_varint64(&content, 10);
  put_varint64(&content, 1);
  content += "ab";
  short_strings.set_tensor_content(content);
  EXPECT_EQ(tensor_from_proto(short_strings, "", &t).code(), TF_INVALID_ARGUMENT);

  auto out_of_range = proto(tensorflow::DT_FLOAT, {1});
  out_of_range.set_dtype(static_cast<tensorflow::DataType>(93));
  s = tensor_from_proto(out_of_range, "", &t);
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("93"), std::string::npos) << s.message();

  auto variant = proto(tensorflow::DT_VARIANT, {1});
  EXPECT_EQ(tensor_from_proto(variant, "", &t).code(), TF_UNIMPLEMENTED);
}

TEST(PartialShape, Compatibility) {
  tensorflow::TensorShapeProto proto_shape;
  proto_shape.add_dim()->set_size(-1);
  proto_shape.add_dim()->set_size(3);
  const PartialShape s = partial_shape_from_proto(proto_shape);
  EXPECT_TRUE(s.is_compatible_with({5, 3}));
  EXPECT_FALSE(s.is_compatible_with({5, 4}));
  EXPECT_FALSE(s.is_compatible_with({3}));
  EXPECT_EQ(s.to_string(), "[?,3]");
  tensorflow::TensorShapeProto any;
  any.set_unknown_rank(true);
  EXPECT_TRUE(partial_shape_from_proto(any).is_compatible_with({1, 2, 3, 4}));
}

}  // namespace
}  // namespace qtf
