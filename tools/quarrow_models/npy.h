// Reading and writing NumPy .npy files (format 1.0; 2.0 is read too):
// little-endian float32/64, int32/64, uint8 and bool arrays in C order, the
// element types a TF_Tensor exchanges with the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tensorflow/c/c_api.h"

namespace quarrow::models {

struct NpyArray {
  TF_DataType dtype = TF_FLOAT;
  std::vector<int64_t> shape;  // empty = scalar
  std::string data;            // elements, C order, little-endian

  int64_t num_elements() const;
};

// The .npy type string ("<f4", "|u1"...) of a dtype; empty when unsupported.
std::string npy_descr(TF_DataType dtype);

// Parses a whole .npy file's bytes. On failure returns false with the reason
// in `*error` (no file name; callers add it).
bool parse_npy(const std::string& bytes, NpyArray* out, std::string* error);
std::string serialize_npy(const NpyArray& array);

bool read_npy(const std::string& path, NpyArray* out, std::string* error);
bool write_npy(const std::string& path, const NpyArray& array, std::string* error);

}  // namespace quarrow::models
