// Reads the small .npy fixtures the kernel tests compare against
// (little-endian float32/64, int32/64, uint64 or bool, C order, format
// version 1 or 2).
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "core/tensor.h"

namespace qtf {
namespace testing {

// Returns an invalid Tensor and sets *error when the file is unreadable.
inline Tensor read_npy(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || bytes.compare(0, 6, "\x93NUMPY") != 0) {
    *error = path + ": not an .npy file";
    return Tensor();
  }
  const auto u8 = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const int major = u8(6);
  size_t header_len = 0, start = 0;
  if (major == 1) {
    header_len = u8(8) | (size_t{u8(9)} << 8);
    start = 10;
  } else {
    header_len = u8(8) | (size_t{u8(9)} << 8) | (size_t{u8(10)} << 16) | (size_t{u8(11)} << 24);
    start = 12;
  }
  if (start + header_len > bytes.size()) {
    *error = path + ": truncated header";
    return Tensor();
  }
  const std::string header = bytes.substr(start, header_len);
  DataType dtype;
  if (header.find("'descr': '<f4'") != std::string::npos) {
    dtype = TF_FLOAT;
  } else if (header.find("'descr': '<i4'") != std::string::npos) {
    dtype = TF_INT32;
  } else if (header.find("'descr': '<f8'") != std::string::npos) {
    dtype = TF_DOUBLE;
  } else if (header.find("'descr': '<i8'") != std::string::npos) {
    dtype = TF_INT64;
  } else if (header.find("'descr': '|b1'") != std::string::npos) {
    dtype = TF_BOOL;
  } else if (header.find("'descr': '<u8'") != std::string::npos) {
    dtype = TF_UINT64;
  } else if (header.find("'descr': '|u1'") != std::string::npos) {
    dtype = TF_UINT8;
  } else {
    *error = path + ": unsupported dtype in " + header;
    return Tensor();
  }
  if (header.find("'fortran_order': False") == std::string::npos) {
    *error = path + ": Fortran order";
    return Tensor();
  }
  const size_t open = header.find("'shape': (");
  const size_t close = header.find(')', open);
  if (open == std::string::npos || close == std::string::npos) {
    *error = path + ": no shape";
    return Tensor();
  }
  Shape shape;
  std::string dims = header.substr(open + 10, close - open - 10);
  size_t pos = 0;
  while (pos < dims.size()) {
    const size_t comma = dims.find(',', pos);
    const std::string item = dims.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (item.find_first_of("0123456789") != std::string::npos) shape.push_back(std::stoll(item));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  Tensor t = Tensor::allocate(dtype, shape);
  const size_t data = start + header_len;
  if (bytes.size() - data != t.byte_size()) {
    *error = path + ": expected " + std::to_string(t.byte_size()) + " data bytes";
    return Tensor();
  }
  std::memcpy(t.raw(), bytes.data() + data, t.byte_size());
  return t;
}

}  // namespace testing
}  // namespace qtf
