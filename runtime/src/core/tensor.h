// Tensor: a typed, shaped, reference-counted value flowing between kernels.
//
// Numeric and bool tensors own a 64-byte-aligned buffer (or borrow a caller's
// buffer with a release callback). String tensors hold std::string elements.
// Resource tensors are scalars holding a handle to a variable; variant
// tensors are scalars holding an opaque value (a TensorList...). Copies share
// the buffer or value; `is_sole_owner` lets kernels write in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tensorflow/c/c_api.h"

namespace qtf {

using DataType = TF_DataType;
using Shape = std::vector<int64_t>;

// Bytes per element, 0 for strings, resources and unsupported types.
size_t dtype_size(DataType dtype);
// Readable name, e.g. "float", "int32".
const char* dtype_name(DataType dtype);
// "[1,256,512,3]"
std::string shape_string(const Shape& shape);
int64_t num_elements(const Shape& shape);

struct Variable;  // resource variable, defined by the executor

// The value of a variant tensor. Copies of the tensor share it, so a kernel
// changes it only while its tensor `is_sole_owner`, and clones it otherwise.
class VariantValue {
 public:
  virtual ~VariantValue() = default;
  virtual std::string type_name() const = 0;
  virtual std::shared_ptr<VariantValue> clone() const = 0;
};

class Tensor {
 public:
  Tensor() = default;

  // Uninitialised numeric tensor (64-byte aligned storage).
  static Tensor allocate(DataType dtype, Shape shape);
  // Numeric tensor over memory owned elsewhere; `release` runs when the last
  // copy is dropped.
  static Tensor borrow(DataType dtype, Shape shape, void* data, size_t bytes,
                       std::function<void()> release);
  static Tensor strings(Shape shape, std::vector<std::string> values);
  static Tensor resource(std::shared_ptr<Variable> variable);
  static Tensor variant(std::shared_ptr<VariantValue> value);

  bool valid() const { return dtype_ != 0; }
  DataType dtype() const { return dtype_; }
  const Shape& shape() const { return shape_; }
  int rank() const { return static_cast<int>(shape_.size()); }
  int64_t dim(int i) const { return shape_[static_cast<size_t>(i)]; }
  int64_t num_elements() const { return qtf::num_elements(shape_); }
  size_t byte_size() const { return bytes_; }

  void* raw() const { return data_; }
  template <typename T>
  T* data() const { return static_cast<T*>(data_); }

  const std::vector<std::string>& string_values() const { return *strings_; }
  std::vector<std::string>& mutable_string_values() { return *strings_; }
  const std::shared_ptr<Variable>& variable() const { return variable_; }
  VariantValue* variant_value() const { return variant_.get(); }

  // Same buffer seen with another shape of the same element count.
  Tensor reshaped(Shape shape) const;
  // True when no other Tensor shares this one's storage. Borrowed buffers
  // never count: they belong to the caller.
  bool is_sole_owner() const;

 private:
  DataType dtype_ = static_cast<DataType>(0);
  Shape shape_;
  void* data_ = nullptr;
  size_t bytes_ = 0;
  std::shared_ptr<void> storage_;  // keeps data_ alive
  std::shared_ptr<std::vector<std::string>> strings_;
  std::shared_ptr<Variable> variable_;
  std::shared_ptr<VariantValue> variant_;
};

}  // namespace qtf
