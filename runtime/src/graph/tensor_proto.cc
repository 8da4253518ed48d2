#include "graph/tensor_proto.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "util/coding.h"
#include "util/dtype_range.h"

namespace qtf {
namespace {

// Copies `values` into `n` elements of type T, repeating the last value when
// the list is short and filling zeros when it is empty.
template <typename T, typename List>
void fill_from_list(const List& values, int64_t n, void* raw) {
  T* out = static_cast<T*>(raw);
  const int64_t given = values.size();
  const int64_t copied = given < n ? given : n;
  for (int64_t i = 0; i < copied; ++i) out[i] = static_cast<T>(values.Get(static_cast<int>(i)));
  const T fill = given > 0 ? static_cast<T>(values.Get(static_cast<int>(given - 1))) : T();
  for (int64_t i = copied; i < n; ++i) out[i] = fill;
}

Status strings_from_content(const std::string& content, int64_t n, const std::string& where,
                            std::vector<std::string>* values) {
  std::string_view in(content);
  if (static_cast<uint64_t>(n) > in.size()) {
    return invalid_argument(where + "tensor_content too short for " + std::to_string(n) + " strings");
  }
  std::vector<uint32_t> lengths(static_cast<size_t>(n));
  for (uint32_t& length : lengths) {
    if (!get_varint32(&in, &length)) return invalid_argument(where + "truncated string lengths");
  }
  values->clear();
  for (uint32_t length : lengths) {
    if (length > in.size()) return invalid_argument(where + "string bytes shorter than their lengths");
    values->emplace_back(in.data(), length);
    in.remove_prefix(length);
  }
  return Status::ok();
}

}  // namespace

bool PartialShape::is_compatible_with(const Shape& shape) const {
  if (unknown_rank) return true;
  if (dims.size() != shape.size()) return false;
  for (size_t i = 0; i < dims.size(); ++i) {
    if (dims[i] >= 0 && dims[i] != shape[i]) return false;
  }
  return true;
}

std::string PartialShape::to_string() const {
  if (unknown_rank) return "<unknown>";
  std::string out = "[";
  for (size_t i = 0; i < dims.size(); ++i) {
    if (i > 0) out += ',';
    out += dims[i] < 0 ? std::string("?") : std::to_string(dims[i]);
  }
  return out + "]";
}

PartialShape partial_shape_from_proto(const tensorflow::TensorShapeProto& proto) {
  PartialShape shape;
  shape.unknown_rank = proto.unknown_rank();
  if (!shape.unknown_rank) {
    for (const auto& dim : proto.dim()) shape.dims.push_back(dim.size() < 0 ? -1 : dim.size());
  }
  return shape;
}

Status shape_from_proto(const tensorflow::TensorShapeProto& proto, const std::string& where,
                        Shape* shape) {
  if (proto.unknown_rank()) return invalid_argument(where + "shape has unknown rank");
  shape->clear();
  int64_t n = 1;
  for (const auto& dim : proto.dim()) {
    if (dim.size() < 0) return invalid_argument(where + "shape has an unknown dimension");
    if (dim.size() > 0 && n > std::numeric_limits<int64_t>::max() / dim.size()) {
      return invalid_argument(where + "shape is too large");
    }
    n *= dim.size();
    shape->push_back(dim.size());
  }
  return Status::ok();
}

Status tensor_from_proto(const tensorflow::TensorProto& proto, const std::string& where,
                         Tensor* out) {
  DataType dtype = TF_FLOAT;
  QTF_RETURN_IF_ERROR(checked_dtype(proto.dtype(), where, &dtype));
  Shape shape;
  QTF_RETURN_IF_ERROR(shape_from_proto(proto.tensor_shape(), where, &shape));
  const int64_t n = num_elements(shape);

  if (dtype == TF_STRING) {
    std::vector<std::string> values;
    if (n > 0 && !proto.tensor_content().empty()) {
      QTF_RETURN_IF_ERROR(strings_from_content(proto.tensor_content(), n, where, &values));
    } else if (n > 0) {
      const auto& list = proto.string_val();
      // Each element is a separate std::string; refuse absurd sizes before allocating.
      if (list.empty() && n > (int64_t{1} << 28)) return invalid_argument(where + "string tensor too large");
      values.reserve(static_cast<size_t>(n));
      for (int64_t i = 0; i < n; ++i) {
        if (i < list.size()) {
          values.push_back(list.Get(static_cast<int>(i)));
        } else {
          values.push_back(list.empty() ? std::string() : list.Get(list.size() - 1));
        }
      }
    }
    *out = Tensor::strings(std::move(shape), std::move(values));
    return Status::ok();
  }

  const size_t element_size = dtype_size(dtype);
  if (element_size == 0) {
    return unimplemented(where + "constant of type " + dtype_name(dtype) + " is not supported");
  }
  if (static_cast<uint64_t>(n) > (uint64_t{1} << 40) / element_size) {
    return invalid_argument(where + "constant of shape " + shape_string(shape) + " is too large");
  }
  const size_t bytes = static_cast<size_t>(n) * element_size;
  if (!proto.tensor_content().empty() && n > 0) {
    if (proto.tensor_content().size() != bytes) {
      return invalid_argument(where + "tensor_content has " +
                              std::to_string(proto.tensor_content().size()) + " bytes, shape " +
                              shape_string(shape) + " of " + dtype_name(dtype) + " needs " +
                              std::to_string(bytes));
    }
    Tensor t = Tensor::allocate(dtype, std::move(shape));
    std::memcpy(t.raw(), proto.tensor_content().data(), bytes);
    *out = std::move(t);
    return Status::ok();
  }

  Tensor t = Tensor::allocate(dtype, std::move(shape));
  void* raw = t.raw();
  switch (dtype) {
    case TF_FLOAT: fill_from_list<float>(proto.float_val(), n, raw); break;
    case TF_DOUBLE: fill_from_list<double>(proto.double_val(), n, raw); break;
    case TF_INT32: case TF_QINT32: fill_from_list<int32_t>(proto.int_val(), n, raw); break;
    case TF_INT16: case TF_QINT16: fill_from_list<int16_t>(proto.int_val(), n, raw); break;
    case TF_INT8: case TF_QINT8: fill_from_list<int8_t>(proto.int_val(), n, raw); break;
    case TF_UINT8: case TF_QUINT8: fill_from_list<uint8_t>(proto.int_val(), n, raw); break;
    case TF_UINT16: case TF_QUINT16: fill_from_list<uint16_t>(proto.int_val(), n, raw); break;
    case TF_INT64: fill_from_list<int64_t>(proto.int64_val(), n, raw); break;
    case TF_UINT32: fill_from_list<uint32_t>(proto.uint32_val(), n, raw); break;
    case TF_UINT64: fill_from_list<uint64_t>(proto.uint64_val(), n, raw); break;
    case TF_BOOL: fill_from_list<bool>(proto.bool_val(), n, raw); break;
    case TF_HALF: case TF_BFLOAT16: fill_from_list<uint16_t>(proto.half_val(), n, raw); break;
    default:
      return unimplemented(where + "constant of type " + dtype_name(dtype) + " is not supported");
  }
  *out = std::move(t);
  return Status::ok();
}

}  // namespace qtf
