// Tensor storage: aligned buffers, borrowed buffers, strings, resources and variants.
#include "core/tensor.h"

#include "core/buffer_cache.h"

#include <cstdlib>
#include <new>
#include <sstream>

namespace qtf {

namespace {

constexpr size_t kAlignment = kBufferAlignment;

// Deleter of buffers this class allocated; its type marks storage that a
// kernel may overwrite in place (borrowed buffers belong to someone else).
struct AlignedFree {
  size_t capacity = 0;
  void operator()(void* p) const { release_buffer(p, capacity); }
};

}  // namespace

size_t dtype_size(DataType dtype) {
  switch (dtype) {
    case TF_FLOAT: return 4;
    case TF_DOUBLE: return 8;
    case TF_INT32: return 4;
    case TF_UINT8: return 1;
    case TF_INT16: return 2;
    case TF_INT8: return 1;
    case TF_COMPLEX64: return 8;
    case TF_INT64: return 8;
    case TF_BOOL: return 1;
    case TF_QINT8: return 1;
    case TF_QUINT8: return 1;
    case TF_QINT32: return 4;
    case TF_BFLOAT16: return 2;
    case TF_QINT16: return 2;
    case TF_QUINT16: return 2;
    case TF_UINT16: return 2;
    case TF_COMPLEX128: return 16;
    case TF_HALF: return 2;
    case TF_UINT32: return 4;
    case TF_UINT64: return 8;
    default: return 0;
  }
}

const char* dtype_name(DataType dtype) {
  switch (dtype) {
    case TF_FLOAT: return "float";
    case TF_DOUBLE: return "double";
    case TF_INT32: return "int32";
    case TF_UINT8: return "uint8";
    case TF_INT16: return "int16";
    case TF_INT8: return "int8";
    case TF_STRING: return "string";
    case TF_COMPLEX64: return "complex64";
    case TF_INT64: return "int64";
    case TF_BOOL: return "bool";
    case TF_QINT8: return "qint8";
    case TF_QUINT8: return "quint8";
    case TF_QINT32: return "qint32";
    case TF_BFLOAT16: return "bfloat16";
    case TF_QINT16: return "qint16";
    case TF_QUINT16: return "quint16";
    case TF_UINT16: return "uint16";
    case TF_COMPLEX128: return "complex128";
    case TF_HALF: return "half";
    case TF_RESOURCE: return "resource";
    case TF_VARIANT: return "variant";
    case TF_UINT32: return "uint32";
    case TF_UINT64: return "uint64";
    default: return "invalid";
  }
}

std::string shape_string(const Shape& shape) {
  std::ostringstream out;
  out << '[';
  for (size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) out << ',';
    out << shape[i];
  }
  out << ']';
  return out.str();
}

int64_t num_elements(const Shape& shape) {
  int64_t n = 1;
  for (int64_t d : shape) {
    if (d < 0) return -1;  // unknown dimension
    n *= d;
  }
  return n;
}

Tensor Tensor::allocate(DataType dtype, Shape shape) {
  const int64_t n = qtf::num_elements(shape);
  if (n < 0) throw std::bad_alloc();
  if (dtype == TF_STRING) {
    return strings(std::move(shape), std::vector<std::string>(static_cast<size_t>(n)));
  }
  Tensor t;
  t.dtype_ = dtype;
  t.shape_ = std::move(shape);
  t.bytes_ = static_cast<size_t>(n) * dtype_size(dtype);
  // aligned_alloc wants a multiple of the alignment; never ask for zero so
  // that empty tensors still have a valid pointer.
  const size_t rounded = (t.bytes_ + kAlignment - 1) / kAlignment * kAlignment;
  const size_t capacity = rounded == 0 ? kAlignment : rounded;
  void* p = acquire_buffer(capacity);
  if (p == nullptr) throw std::bad_alloc();
  t.storage_ = std::shared_ptr<void>(p, AlignedFree{capacity});
  t.data_ = p;
  return t;
}

Tensor Tensor::borrow(DataType dtype, Shape shape, void* data, size_t bytes,
                      std::function<void()> release) {
  Tensor t;
  t.dtype_ = dtype;
  t.shape_ = std::move(shape);
  t.data_ = data;
  t.bytes_ = bytes;
  // The deleter ignores the pointer: ownership stays with the caller, who is
  // told through `release` when the last copy goes away.
  t.storage_ = std::shared_ptr<void>(data, [release = std::move(release)](void*) {
    if (release) release();
  });
  return t;
}

Tensor Tensor::strings(Shape shape, std::vector<std::string> values) {
  Tensor t;
  t.dtype_ = TF_STRING;
  t.shape_ = std::move(shape);
  t.strings_ = std::make_shared<std::vector<std::string>>(std::move(values));
  return t;
}

Tensor Tensor::resource(std::shared_ptr<Variable> variable) {
  Tensor t;
  t.dtype_ = TF_RESOURCE;
  t.variable_ = std::move(variable);
  return t;
}

Tensor Tensor::variant(std::shared_ptr<VariantValue> value) {
  Tensor t;
  t.dtype_ = TF_VARIANT;
  t.variant_ = std::move(value);
  return t;
}

Tensor Tensor::reshaped(Shape shape) const {
  if (qtf::num_elements(shape) != num_elements()) return Tensor();
  Tensor t = *this;
  t.shape_ = std::move(shape);
  return t;
}

bool Tensor::is_sole_owner() const {
  if (strings_) return strings_.use_count() == 1;
  if (variant_) return variant_.use_count() == 1;
  if (storage_ && std::get_deleter<AlignedFree>(storage_) != nullptr) {
    return storage_.use_count() == 1;
  }
  return false;
}

}  // namespace qtf
