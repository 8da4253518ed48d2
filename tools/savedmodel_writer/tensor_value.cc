// TensorValue constructors and conversion, and the attribute value helpers.
#include <cstring>

#include "savedmodel_writer.h"

namespace qsm {

namespace {

template <typename T>
TensorValue from_elements(TF_DataType dtype, Shape shape, const std::vector<T>& values) {
  TensorValue v;
  v.dtype = dtype;
  v.shape = std::move(shape);
  v.bytes.resize(values.size() * sizeof(T));
  // Element bytes are stored little-endian; the supported hosts are.
  if (!values.empty()) std::memcpy(&v.bytes[0], values.data(), v.bytes.size());
  return v;
}

size_t element_size(TF_DataType dtype) {
  switch (dtype) {
    case TF_FLOAT: case TF_INT32: case TF_UINT32: return 4;
    case TF_DOUBLE: case TF_INT64: case TF_UINT64: return 8;
    case TF_UINT8: case TF_INT8: case TF_BOOL: return 1;
    case TF_INT16: case TF_UINT16: case TF_HALF: case TF_BFLOAT16: return 2;
    default: return 0;
  }
}

template <typename T>
const T* elements(const TensorValue& v) {
  return reinterpret_cast<const T*>(v.bytes.data());
}

void set_shape(const Shape& shape, tensorflow::TensorShapeProto* proto) {
  proto->Clear();
  for (int64_t d : shape) proto->add_dim()->set_size(d);
}

}  // namespace

TensorValue TensorValue::floats(Shape shape, const std::vector<float>& values) {
  return from_elements(TF_FLOAT, std::move(shape), values);
}
TensorValue TensorValue::doubles(Shape shape, const std::vector<double>& values) {
  return from_elements(TF_DOUBLE, std::move(shape), values);
}
TensorValue TensorValue::int32s(Shape shape, const std::vector<int32_t>& values) {
  return from_elements(TF_INT32, std::move(shape), values);
}
TensorValue TensorValue::int64s(Shape shape, const std::vector<int64_t>& values) {
  return from_elements(TF_INT64, std::move(shape), values);
}
TensorValue TensorValue::uint8s(Shape shape, const std::vector<uint8_t>& values) {
  return from_elements(TF_UINT8, std::move(shape), values);
}
TensorValue TensorValue::bools(Shape shape, const std::vector<bool>& values) {
  std::vector<uint8_t> bytes(values.begin(), values.end());
  return from_elements(TF_BOOL, std::move(shape), bytes);
}
TensorValue TensorValue::string_values(Shape shape, std::vector<std::string> values) {
  TensorValue v;
  v.dtype = TF_STRING;
  v.shape = std::move(shape);
  v.strings = std::move(values);
  return v;
}

int64_t TensorValue::num_elements() const {
  int64_t n = 1;
  for (int64_t d : shape) n *= d;
  return n;
}

qtf::Status TensorValue::validate() const {
  for (int64_t d : shape) {
    if (d < 0) return qtf::invalid_argument("tensor shape has a negative dimension");
  }
  const int64_t n = num_elements();
  if (dtype == TF_STRING) {
    if (static_cast<int64_t>(strings.size()) != n) {
      return qtf::invalid_argument("string tensor has " + std::to_string(strings.size()) +
                                   " values for " + std::to_string(n) + " elements");
    }
    return qtf::Status::ok();
  }
  const size_t size = element_size(dtype);
  if (size == 0) {
    return qtf::unimplemented("tensor of type " + std::to_string(static_cast<int>(dtype)) +
                              " cannot be stored");
  }
  if (bytes.size() != static_cast<size_t>(n) * size) {
    return qtf::invalid_argument("tensor has " + std::to_string(bytes.size() / size) +
                                 " values for " + std::to_string(n) + " elements");
  }
  return qtf::Status::ok();
}

tensorflow::TensorProto TensorValue::to_proto() const {
  tensorflow::TensorProto proto;
  proto.set_dtype(static_cast<tensorflow::DataType>(dtype));
  set_shape(shape, proto.mutable_tensor_shape());
  const int64_t n = num_elements();
  if (dtype == TF_STRING) {
    for (const std::string& s : strings) proto.add_string_val(s);
    return proto;
  }
  if (n > 1) {
    proto.set_tensor_content(bytes);
    return proto;
  }
  if (n == 0) return proto;
  switch (dtype) {
    case TF_FLOAT: proto.add_float_val(elements<float>(*this)[0]); break;
    case TF_DOUBLE: proto.add_double_val(elements<double>(*this)[0]); break;
    case TF_INT32: proto.add_int_val(elements<int32_t>(*this)[0]); break;
    case TF_UINT8: proto.add_int_val(elements<uint8_t>(*this)[0]); break;
    case TF_INT8: proto.add_int_val(elements<int8_t>(*this)[0]); break;
    case TF_INT16: proto.add_int_val(elements<int16_t>(*this)[0]); break;
    case TF_UINT16: proto.add_int_val(elements<uint16_t>(*this)[0]); break;
    case TF_INT64: proto.add_int64_val(elements<int64_t>(*this)[0]); break;
    case TF_UINT32: proto.add_uint32_val(elements<uint32_t>(*this)[0]); break;
    case TF_UINT64: proto.add_uint64_val(elements<uint64_t>(*this)[0]); break;
    case TF_BOOL: proto.add_bool_val(elements<uint8_t>(*this)[0] != 0); break;
    case TF_HALF: case TF_BFLOAT16: proto.add_half_val(elements<uint16_t>(*this)[0]); break;
    default: proto.set_tensor_content(bytes); break;
  }
  return proto;
}

tensorflow::AttrValue integer(int64_t v) {
  tensorflow::AttrValue a;
  a.set_i(v);
  return a;
}
tensorflow::AttrValue real(float v) {
  tensorflow::AttrValue a;
  a.set_f(v);
  return a;
}
tensorflow::AttrValue boolean(bool v) {
  tensorflow::AttrValue a;
  a.set_b(v);
  return a;
}
tensorflow::AttrValue type(TF_DataType v) {
  tensorflow::AttrValue a;
  a.set_type(static_cast<tensorflow::DataType>(v));
  return a;
}
tensorflow::AttrValue str(const std::string& v) {
  tensorflow::AttrValue a;
  a.set_s(v);
  return a;
}
tensorflow::AttrValue ints(const std::vector<int64_t>& v) {
  tensorflow::AttrValue a;
  auto* list = a.mutable_list();
  for (int64_t x : v) list->add_i(x);
  return a;
}
tensorflow::AttrValue floats(const std::vector<float>& v) {
  tensorflow::AttrValue a;
  auto* list = a.mutable_list();
  for (float x : v) list->add_f(x);
  return a;
}
tensorflow::AttrValue types(const std::vector<TF_DataType>& v) {
  tensorflow::AttrValue a;
  auto* list = a.mutable_list();
  for (TF_DataType x : v) list->add_type(static_cast<tensorflow::DataType>(x));
  return a;
}
tensorflow::AttrValue shape(const Shape& v) {
  tensorflow::AttrValue a;
  set_shape(v, a.mutable_shape());
  return a;
}
tensorflow::AttrValue tensor(const TensorValue& v) {
  tensorflow::AttrValue a;
  *a.mutable_tensor() = v.to_proto();
  return a;
}

}  // namespace qsm
