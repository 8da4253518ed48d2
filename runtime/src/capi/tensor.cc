// TF_Tensor: caller buffers are borrowed as they are (the deallocator runs when
// the last reference goes), runtime results are handed over without copying
// unless the runtime still shares them.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "capi/c_api_internal.h"

namespace {

// Element count of `dims`, or -1 when a dimension is negative or the product overflows.
int64_t checked_elements(const int64_t* dims, int num_dims) {
  if (num_dims < 0 || (num_dims > 0 && dims == nullptr)) return -1;
  int64_t n = 1;
  for (int i = 0; i < num_dims; ++i) {
    if (dims[i] < 0) return -1;
    if (dims[i] > 0 && n > std::numeric_limits<int64_t>::max() / dims[i]) return -1;
    n *= dims[i];
  }
  return n;
}

bool fits(TF_DataType dtype, int64_t n, size_t len) {
  const size_t size = qtf::dtype_size(dtype);
  if (size == 0) return true;  // variable-length types: the length is the caller's business
  if (static_cast<uint64_t>(n) > std::numeric_limits<size_t>::max() / size) return false;
  return len >= static_cast<size_t>(n) * size;
}

}  // namespace

extern "C" {

size_t TF_DataTypeSize(TF_DataType dt) { return qtf::dtype_size(dt); }

TF_Tensor* TF_NewTensor(TF_DataType dtype, const int64_t* dims, int num_dims, void* data, size_t len,
                        void (*deallocator)(void* data, size_t len, void* arg), void* deallocator_arg) {
  const int64_t n = checked_elements(dims, num_dims);
  if (n < 0 || !fits(dtype, n, len)) {
    if (deallocator != nullptr) deallocator(data, len, deallocator_arg);
    return nullptr;
  }
  try {
    qtf::Shape shape(dims, dims + num_dims);
    auto release = [data, len, deallocator, deallocator_arg]() {
      if (deallocator != nullptr) deallocator(data, len, deallocator_arg);
    };
    auto* t = new TF_Tensor();
    t->tensor = qtf::Tensor::borrow(dtype, std::move(shape), data, len, release);
    return t;
  } catch (const std::bad_alloc&) {
    if (deallocator != nullptr) deallocator(data, len, deallocator_arg);
    return nullptr;
  }
}

TF_Tensor* TF_AllocateTensor(TF_DataType dtype, const int64_t* dims, int num_dims, size_t len) {
  const int64_t n = checked_elements(dims, num_dims);
  if (n < 0) return nullptr;
  constexpr size_t kAlignment = 64;
  if (len > std::numeric_limits<size_t>::max() - kAlignment) return nullptr;
  const size_t rounded = len == 0 ? kAlignment : (len + kAlignment - 1) / kAlignment * kAlignment;
  void* data = std::aligned_alloc(kAlignment, rounded);
  if (data == nullptr) return nullptr;
  try {
    auto* t = new TF_Tensor();
    t->tensor = qtf::Tensor::borrow(dtype, qtf::Shape(dims, dims + num_dims), data, len,
                                    [data]() { std::free(data); });
    return t;
  } catch (const std::bad_alloc&) {
    std::free(data);
    return nullptr;
  }
}

void TF_DeleteTensor(TF_Tensor* t) { delete t; }

TF_DataType TF_TensorType(const TF_Tensor* t) { return t->tensor.dtype(); }

int TF_NumDims(const TF_Tensor* t) { return t->tensor.rank(); }

int64_t TF_Dim(const TF_Tensor* t, int dim_index) {
  if (dim_index < 0 || dim_index >= t->tensor.rank()) return -1;
  return t->tensor.dim(dim_index);
}

size_t TF_TensorByteSize(const TF_Tensor* t) { return t->tensor.byte_size(); }

void* TF_TensorData(const TF_Tensor* t) { return t->tensor.raw(); }

}  // extern "C"
