#include "kernels/tensor_list/tensor_list.h"

#include <algorithm>
#include <cstring>

namespace qtf {

Tensor list_tensor(TensorList list) { return Tensor::variant(std::make_shared<TensorList>(std::move(list))); }

Status input_list(const OpKernelContext& ctx, int i, const std::string& where, const TensorList** out) {
  const Tensor& t = ctx.input(i);
  if (t.dtype() != TF_VARIANT || t.rank() != 0) {
    return invalid_argument(where + "Input list must be a scalar saw: " + shape_string(t.shape()));
  }
  const auto* list = dynamic_cast<const TensorList*>(t.variant_value());
  if (list == nullptr) return invalid_argument(where + "Input handle is not a list");
  *out = list;
  return Status::ok();
}

TensorList* forward_or_copy_list(OpKernelContext& ctx, int input, int output) {
  const Tensor& in = ctx.input(input);
  Tensor out = in.is_sole_owner() ? in : Tensor::variant(in.variant_value()->clone());
  auto* list = static_cast<TensorList*>(out.variant_value());
  ctx.set_output(output, std::move(out));
  return list;
}

Status check_element_dtype(const TensorList& list, DataType dtype, const std::string& where) {
  if (list.element_dtype != dtype) {
    return invalid_argument(where + "Invalid data types; op elements " + dtype_name(dtype) +
                            " but list elements " + dtype_name(list.element_dtype));
  }
  return Status::ok();
}

Status shape_from_tensor(const Tensor& t, const std::string& where, PartialShape* out) {
  if (t.dtype() != TF_INT32 && t.dtype() != TF_INT64) {
    return invalid_argument(where + "Expected an int32 or int64 shape tensor; found " + dtype_name(t.dtype()));
  }
  auto value = [&](int64_t i) -> int64_t {
    return t.dtype() == TF_INT32 ? t.data<int32_t>()[i] : t.data<int64_t>()[i];
  };
  out->dims.clear();
  if (t.rank() == 0) {
    if (value(0) != -1) {
      return invalid_argument(where + "The only valid scalar shape tensor is the fully unknown shape "
                                      "specified as -1.");
    }
    out->unknown_rank = true;
    return Status::ok();
  }
  if (t.rank() != 1) return invalid_argument(where + "shape must be a vector, got " + shape_string(t.shape()));
  out->unknown_rank = false;
  for (int64_t i = 0; i < t.num_elements(); ++i) {
    const int64_t d = value(i);
    if (d < -1) return invalid_argument(where + "dimension " + std::to_string(d) + " in a shape");
    out->dims.push_back(d);
  }
  return Status::ok();
}

Status merge_shapes(const PartialShape& a, const PartialShape& b, const std::string& where,
                    PartialShape* out) {
  if (a.unknown_rank || b.unknown_rank) {
    *out = a.unknown_rank ? b : a;
    return Status::ok();
  }
  if (a.dims.size() != b.dims.size()) {
    return invalid_argument(where + "Incompatible shapes " + a.to_string() + " and " + b.to_string());
  }
  PartialShape merged;
  merged.unknown_rank = false;
  for (size_t i = 0; i < a.dims.size(); ++i) {
    if (a.dims[i] >= 0 && b.dims[i] >= 0 && a.dims[i] != b.dims[i]) {
      return invalid_argument(where + "Incompatible shapes " + a.to_string() + " and " + b.to_string());
    }
    merged.dims.push_back(a.dims[i] >= 0 ? a.dims[i] : b.dims[i]);
  }
  *out = std::move(merged);
  return Status::ok();
}

PartialShape known_shape(const Shape& shape) {
  PartialShape p;
  p.unknown_rank = false;
  p.dims = shape;
  return p;
}

bool fully_defined(const PartialShape& shape) {
  if (shape.unknown_rank) return false;
  for (int64_t d : shape.dims) {
    if (d < 0) return false;
  }
  return true;
}

Status read_shape(const TensorList& list, const Tensor& element_shape, const std::vector<int64_t>* indices,
                  const std::string& where, PartialShape* out) {
  PartialShape given;
  QTF_RETURN_IF_ERROR(shape_from_tensor(element_shape, where, &given));
  QTF_RETURN_IF_ERROR(merge_shapes(given, list.element_shape, where, out));
  if (fully_defined(*out)) return Status::ok();
  auto refine = [&](const Tensor& e) -> Status {
    return e.valid() ? merge_shapes(*out, known_shape(e.shape()), where, out) : Status::ok();
  };
  if (indices == nullptr) {
    for (const Tensor& e : list.elements) QTF_RETURN_IF_ERROR(refine(e));
  } else {
    for (int64_t i : *indices) QTF_RETURN_IF_ERROR(refine(list.elements[static_cast<size_t>(i)]));
  }
  return Status::ok();
}

Tensor zeros(DataType dtype, const Shape& shape) {
  Tensor t = Tensor::allocate(dtype, shape);
  if (dtype != TF_STRING && t.byte_size() > 0) std::memset(t.raw(), 0, t.byte_size());
  return t;
}

bool copyable_dtype(DataType dtype) { return dtype == TF_STRING || dtype_size(dtype) > 0; }

Tensor copy_row(const Tensor& t, int64_t row) {
  const Shape shape(t.shape().begin() + 1, t.shape().end());
  const int64_t n = num_elements(shape);
  if (t.dtype() == TF_STRING) {
    const auto& all = t.string_values();
    const auto first = all.begin() + row * n;
    return Tensor::strings(shape, std::vector<std::string>(first, first + n));
  }
  Tensor out = Tensor::allocate(t.dtype(), shape);
  if (out.byte_size() > 0) {
    std::memcpy(out.raw(), static_cast<const char*>(t.raw()) + static_cast<size_t>(row) * out.byte_size(),
                out.byte_size());
  }
  return out;
}

void write_at(const Tensor& src, int64_t offset, Tensor* dst) {
  const int64_t n = src.num_elements();
  if (src.dtype() == TF_STRING) {
    std::copy(src.string_values().begin(), src.string_values().end(), dst->mutable_string_values().begin() + offset);
    return;
  }
  const size_t size = dtype_size(src.dtype());
  if (n > 0) {
    std::memcpy(static_cast<char*>(dst->raw()) + static_cast<size_t>(offset) * size, src.raw(),
                static_cast<size_t>(n) * size);
  }
}

}  // namespace qtf
