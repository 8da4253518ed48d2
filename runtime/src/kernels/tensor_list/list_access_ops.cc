// Ops on single elements and the size of a list: TensorListGetItem,
// TensorListSetItem, TensorListPushBack, TensorListPopBack, TensorListLength,
// TensorListElementShape, TensorListResize, TensorListScatterIntoExistingList.
// The changing ops reuse their input list when they hold it alone.
#include <algorithm>

#include "kernels/index_input.h"
#include "kernels/tensor_list/tensor_list.h"

namespace qtf {
namespace {

Status read_index(const Tensor& t, const std::string& where, int64_t* out) {
  if (t.rank() != 0) return invalid_argument(where + "index must be a scalar, got " + shape_string(t.shape()));
  return read_index_scalar(t, where, "index", out);
}

// An element to return: the one set, or zeros once its shape is known.
Status element_or_zeros(const TensorList& list, size_t i, const Tensor& element_shape, const std::string& where,
                        Tensor* out) {
  if (list.elements[i].valid()) {
    *out = list.elements[i];
    return Status::ok();
  }
  PartialShape shape;
  QTF_RETURN_IF_ERROR(read_shape(list, element_shape, nullptr, where, &shape));
  if (!fully_defined(shape)) {
    return invalid_argument(where + "Trying to read an uninitialized tensor but element_shape is not fully "
                                    "defined: " + shape.to_string() + " and no list element is set.");
  }
  *out = zeros(list.element_dtype, shape.dims);
  return Status::ok();
}

class ListKernel : public OpKernel {
 public:
  ListKernel(const NodeAttrs& attrs, Status* status, bool typed) : where_(attrs.where()) {
    if (typed) *status = attrs.get_type("element_dtype", &dtype_);
  }

 protected:
  Status typed_input(const OpKernelContext& ctx, const TensorList** list) const {
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, list));
    return check_element_dtype(**list, dtype_, where_);
  }
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

class GetItemKernel : public ListKernel {
 public:
  GetItemKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, true) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(typed_input(ctx, &list));
    int64_t i = 0;
    QTF_RETURN_IF_ERROR(read_index(ctx.input(1), where_, &i));
    if (i < 0 || i >= static_cast<int64_t>(list->elements.size())) {
      return invalid_argument(where_ + "Trying to access element " + std::to_string(i) + " in a list with " +
                              std::to_string(list->elements.size()) + " elements.");
    }
    Tensor item;
    QTF_RETURN_IF_ERROR(element_or_zeros(*list, static_cast<size_t>(i), ctx.input(2), where_, &item));
    ctx.set_output(0, std::move(item));
    return Status::ok();
  }
};

class SetItemKernel : public ListKernel {
 public:
  SetItemKernel(const NodeAttrs& attrs, Status* status)
      : ListKernel(attrs, status, true), resize_(attrs.bool_or("resize_if_index_out_of_bounds", false)) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(typed_input(ctx, &list));
    int64_t i = 0;
    QTF_RETURN_IF_ERROR(read_index(ctx.input(1), where_, &i));
    const int64_t size = static_cast<int64_t>(list->elements.size());
    if (i < 0 || (i >= size && !resize_)) {
      return invalid_argument(where_ + "Trying to modify element " + std::to_string(i) + " in a list with " +
                              std::to_string(size) + " elements.");
    }
    const Tensor& value = ctx.input(2);
    if (!list->element_shape.is_compatible_with(value.shape())) {
      return invalid_argument(where_ + "Tried to set a tensor with incompatible shape at a list index. Item "
                                       "element shape: " + shape_string(value.shape()) +
                              " list shape: " + list->element_shape.to_string());
    }
    TensorList* out = forward_or_copy_list(ctx, 0, 0);
    if (i >= size) out->elements.resize(static_cast<size_t>(i) + 1);
    out->elements[static_cast<size_t>(i)] = value;
    return Status::ok();
  }

 private:
  bool resize_;
};

class PushBackKernel : public ListKernel {
 public:
  PushBackKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, true) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(typed_input(ctx, &list));
    const Tensor& value = ctx.input(1);
    if (!list->element_shape.is_compatible_with(value.shape())) {
      return invalid_argument(where_ + "Tried to append a tensor with incompatible shape to a list. Op element "
                                       "shape: " + shape_string(value.shape()) +
                              " list shape: " + list->element_shape.to_string());
    }
    if (list->max_num_elements != -1 &&
        static_cast<int64_t>(list->elements.size()) >= list->max_num_elements) {
      return invalid_argument(where_ + "Tried to push item into a full list list size: " +
                              std::to_string(list->elements.size()) +
                              " max_num_elements: " + std::to_string(list->max_num_elements));
    }
    forward_or_copy_list(ctx, 0, 0)->elements.push_back(value);
    return Status::ok();
  }
};

class PopBackKernel : public ListKernel {
 public:
  PopBackKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, true) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(typed_input(ctx, &list));
    if (list->elements.empty()) return invalid_argument(where_ + "Trying to pop from an empty list.");
    Tensor item;
    QTF_RETURN_IF_ERROR(element_or_zeros(*list, list->elements.size() - 1, ctx.input(1), where_, &item));
    forward_or_copy_list(ctx, 0, 0)->elements.pop_back();
    ctx.set_output(1, std::move(item));
    return Status::ok();
  }
};

class LengthKernel : public ListKernel {
 public:
  LengthKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, false) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    *ctx.allocate_output(0, TF_INT32, {}).data<int32_t>() = static_cast<int32_t>(list->elements.size());
    return Status::ok();
  }
};

class ElementShapeKernel : public ListKernel {
 public:
  ElementShapeKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, false) {
    *status = attrs.get_type("shape_type", &dtype_);
  }
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    // An unknown rank is the scalar -1.
    const PartialShape& shape = list->element_shape;
    const std::vector<int64_t> dims = shape.unknown_rank ? std::vector<int64_t>{-1} : shape.dims;
    Tensor& out = ctx.allocate_output(
        0, dtype_, shape.unknown_rank ? Shape{} : Shape{static_cast<int64_t>(dims.size())});
    for (size_t i = 0; i < dims.size(); ++i) {
      if (dtype_ == TF_INT32) out.data<int32_t>()[i] = static_cast<int32_t>(dims[i]);
      else out.data<int64_t>()[i] = dims[i];
    }
    return Status::ok();
  }
};

class ResizeKernel : public ListKernel {
 public:
  ResizeKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, false) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    int64_t size = 0;
    if (ctx.input(1).rank() != 0) return invalid_argument(where_ + "size must be a scalar");
    QTF_RETURN_IF_ERROR(read_index_scalar(ctx.input(1), where_, "size", &size));
    if (size < 0) {
      return invalid_argument(where_ + "TensorListSlice expects size to be non-negative. Got: " +
                              std::to_string(size));
    }
    forward_or_copy_list(ctx, 0, 0)->elements.resize(static_cast<size_t>(size));
    return Status::ok();
  }
};

class ScatterIntoExistingListKernel : public ListKernel {
 public:
  ScatterIntoExistingListKernel(const NodeAttrs& attrs, Status* status) : ListKernel(attrs, status, true) {}
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(typed_input(ctx, &list));
    const Tensor& t = ctx.input(1);
    const Tensor& indices = ctx.input(2);
    if (t.rank() < 1) {
      return invalid_argument(where_ + "Tensor must be at least a vector, but saw shape: " + shape_string(t.shape()));
    }
    if (indices.rank() != 1 || indices.num_elements() != t.dim(0)) {
      return invalid_argument(where_ + "Expected len(indices) == tensor.shape[0], but saw: " +
                              std::to_string(indices.num_elements()) + " vs. " + std::to_string(t.dim(0)));
    }
    const Shape row(t.shape().begin() + 1, t.shape().end());
    if (!list->element_shape.is_compatible_with(row)) {
      return invalid_argument(where_ + "Tried to scatter rows of shape " + shape_string(row) +
                              " into a list of shape " + list->element_shape.to_string());
    }
    int64_t highest = -1;
    for (int64_t k = 0; k < indices.num_elements(); ++k) {
      const int64_t i = indices.data<int32_t>()[k];
      if (i < 0) return invalid_argument(where_ + "Indices must all be non-negative.");
      highest = std::max(highest, i);
    }
    TensorList* out = forward_or_copy_list(ctx, 0, 0);
    if (highest + 1 > static_cast<int64_t>(out->elements.size())) out->elements.resize(static_cast<size_t>(highest + 1));
    for (int64_t k = 0; k < indices.num_elements(); ++k) {
      out->elements[static_cast<size_t>(indices.data<int32_t>()[k])] = copy_row(t, k);
    }
    return Status::ok();
  }
};

}  // namespace

QTF_REGISTER_KERNEL("TensorListGetItem", GetItemKernel);
QTF_REGISTER_KERNEL("TensorListSetItem", SetItemKernel);
QTF_REGISTER_KERNEL("TensorListPushBack", PushBackKernel);
QTF_REGISTER_KERNEL("TensorListPopBack", PopBackKernel);
QTF_REGISTER_KERNEL("TensorListLength", LengthKernel);
QTF_REGISTER_KERNEL("TensorListElementShape", ElementShapeKernel);
QTF_REGISTER_KERNEL("TensorListResize", ResizeKernel);
QTF_REGISTER_KERNEL("TensorListScatterIntoExistingList", ScatterIntoExistingListKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListGetItem"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "index" type: DT_INT32 }
  input_arg { name: "element_shape" type: DT_INT32 }
  output_arg { name: "item" type_attr: "element_dtype" }
  attr { name: "element_dtype" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListSetItem"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "index" type: DT_INT32 }
  input_arg { name: "item" type_attr: "element_dtype" }
  output_arg { name: "output_handle" type: DT_VARIANT }
  attr { name: "element_dtype" type: "type" }
  attr { name: "resize_if_index_out_of_bounds" type: "bool" default_value { b: false } })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListPushBack"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "tensor" type_attr: "element_dtype" }
  output_arg { name: "output_handle" type: DT_VARIANT }
  attr { name: "element_dtype" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListPopBack"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "element_shape" type: DT_INT32 }
  output_arg { name: "output_handle" type: DT_VARIANT }
  output_arg { name: "tensor" type_attr: "element_dtype" }
  attr { name: "element_dtype" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListLength"
  input_arg { name: "input_handle" type: DT_VARIANT }
  output_arg { name: "length" type: DT_INT32 })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListElementShape"
  input_arg { name: "input_handle" type: DT_VARIANT }
  output_arg { name: "element_shape" type_attr: "shape_type" }
  attr {
    name: "shape_type"
    type: "type"
    allowed_values { list { type: DT_INT32 type: DT_INT64 } }
  })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListResize"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "size" type: DT_INT32 }
  output_arg { name: "output_handle" type: DT_VARIANT })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListScatterIntoExistingList"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "tensor" type_attr: "element_dtype" }
  input_arg { name: "indices" type: DT_INT32 }
  output_arg { name: "output_handle" type: DT_VARIANT }
  attr { name: "element_dtype" type: "type" })pb");

}  // namespace qtf
