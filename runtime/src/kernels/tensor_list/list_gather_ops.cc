// Ops that read many elements into one tensor: TensorListStack (all, stacked
// on a new first axis), TensorListGather (some, by index), TensorListConcat and
// TensorListConcatV2 (all, joined along their first axis). Unset elements read
// as zeros of the element shape.
#include "kernels/index_input.h"
#include "kernels/tensor_list/tensor_list.h"

namespace qtf {
namespace {

// Stacks elements `indices` of `list` into a new tensor of shape
// [indices.size()] + element shape.
Status stack_elements(const TensorList& list, const std::vector<int64_t>& indices, const Tensor& element_shape,
                      const std::string& where, Tensor* out) {
  PartialShape partial;
  QTF_RETURN_IF_ERROR(read_shape(list, element_shape, &indices, where, &partial));
  if (!fully_defined(partial)) {
    return invalid_argument(where + "Tried to stack elements of a list with non-fully-defined element_shape " +
                            partial.to_string() + " (no element sets it)");
  }
  Shape shape = partial.dims;
  shape.insert(shape.begin(), static_cast<int64_t>(indices.size()));
  *out = zeros(list.element_dtype, shape);
  for (size_t k = 0; k < indices.size(); ++k) {
    const Tensor& e = list.elements[static_cast<size_t>(indices[k])];
    if (!e.valid()) continue;
    if (e.shape() != partial.dims) {
      return invalid_argument(where + "element " + std::to_string(indices[k]) + " has shape " +
                              shape_string(e.shape()) + ", expected " + partial.to_string());
    }
    write_at(e, static_cast<int64_t>(k) * e.num_elements(), out);
  }
  return Status::ok();
}

class StackKernel : public OpKernel {
 public:
  StackKernel(const NodeAttrs& attrs, Status* status)
      : where_(attrs.where()), num_elements_(attrs.int_or("num_elements", -1)) {
    *status = attrs.get_type("element_dtype", &dtype_);
  }
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    QTF_RETURN_IF_ERROR(check_element_dtype(*list, dtype_, where_));
    const auto n = static_cast<int64_t>(list->elements.size());
    if (num_elements_ != -1 && n != num_elements_) {
      return invalid_argument(where_ + "Operation expected a list with " + std::to_string(num_elements_) +
                              " elements but got a list with " + std::to_string(n) + " elements.");
    }
    std::vector<int64_t> all(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) all[static_cast<size_t>(i)] = i;
    Tensor out;
    QTF_RETURN_IF_ERROR(stack_elements(*list, all, ctx.input(1), where_, &out));
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  int64_t num_elements_;
  DataType dtype_ = TF_FLOAT;
};

class GatherKernel : public OpKernel {
 public:
  GatherKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("element_dtype", &dtype_);
  }
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    QTF_RETURN_IF_ERROR(check_element_dtype(*list, dtype_, where_));
    const Tensor& indices = ctx.input(1);
    std::vector<int64_t> picked;
    for (int64_t k = 0; k < indices.num_elements(); ++k) {
      const int64_t i = indices.data<int32_t>()[k];
      if (i < 0 || i >= static_cast<int64_t>(list->elements.size())) {
        return invalid_argument(where_ + "Index " + std::to_string(i) + " out of range; list only has " +
                                std::to_string(list->elements.size()) + " elements.");
      }
      picked.push_back(i);
    }
    Tensor out;
    QTF_RETURN_IF_ERROR(stack_elements(*list, picked, ctx.input(2), where_, &out));
    // The indices' own shape leads: gathering with a matrix of indices gives
    // a matrix of elements.
    Shape shape = indices.shape();
    shape.insert(shape.end(), out.shape().begin() + 1, out.shape().end());
    ctx.set_output(0, out.reshaped(shape));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

// TensorListConcat (element_shape attr) and TensorListConcatV2 (element_shape
// and leading_dims inputs); output 1 holds each element's length.
class ConcatKernel : public OpKernel {
 public:
  ConcatKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("element_dtype", &dtype_);
    if (const auto* shape = attrs.find("element_shape")) attr_shape_ = partial_shape_from_proto(shape->shape());
  }
  Status compute(OpKernelContext& ctx) override {
    const TensorList* list = nullptr;
    QTF_RETURN_IF_ERROR(input_list(ctx, 0, where_, &list));
    QTF_RETURN_IF_ERROR(check_element_dtype(*list, dtype_, where_));
    PartialShape shape = attr_shape_;
    if (ctx.num_inputs() > 1) QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(1), where_, &shape));
    QTF_RETURN_IF_ERROR(merge_shapes(shape, list->element_shape, where_, &shape));
    if (!shape.unknown_rank && shape.dims.empty()) {
      return invalid_argument(where_ + "Concat requires elements to be at least vectors, found scalars instead.");
    }
    // Every element shares the dimensions after the first.
    PartialShape inner;
    int64_t first_dim = -1;
    if (!shape.unknown_rank) {
      first_dim = shape.dims[0];
      inner = known_shape(Shape(shape.dims.begin() + 1, shape.dims.end()));
    }
    for (size_t i = 0; i < list->elements.size(); ++i) {
      const Tensor& e = list->elements[i];
      if (!e.valid()) continue;
      if (e.rank() < 1) {
        return invalid_argument(where_ + "Concat saw a scalar shape at index " + std::to_string(i) +
                                " but requires at least vectors.");
      }
      QTF_RETURN_IF_ERROR(merge_shapes(inner, known_shape(Shape(e.shape().begin() + 1, e.shape().end())),
                                       where_, &inner));
    }
    if (!fully_defined(inner)) {
      return invalid_argument(where_ + "Trying to concat list with only uninitialized tensors but "
                                       "element_shape_except_first_dim is not fully defined: " + inner.to_string());
    }
    const Tensor* leading = ctx.num_inputs() > 2 ? &ctx.input(2) : nullptr;
    Tensor& lengths = ctx.allocate_output(1, TF_INT64, {static_cast<int64_t>(list->elements.size())});
    int64_t total = 0;
    for (size_t i = 0; i < list->elements.size(); ++i) {
      const Tensor& e = list->elements[i];
      int64_t n = 0;
      if (e.valid()) {
        n = e.dim(0);
      } else if (leading != nullptr && static_cast<int64_t>(i) < leading->num_elements()) {
        n = leading->data<int64_t>()[i];
      } else if (first_dim >= 0) {
        n = first_dim;
      } else {
        return invalid_argument(where_ + "List contains uninitialized tensor at index " + std::to_string(i) +
                                " and its length is not known.");
      }
      lengths.data<int64_t>()[i] = n;
      total += n;
    }
    Shape out_shape = inner.dims;
    out_shape.insert(out_shape.begin(), total);
    Tensor out = zeros(dtype_, out_shape);
    const int64_t row = num_elements(inner.dims);
    int64_t at = 0;
    for (size_t i = 0; i < list->elements.size(); ++i) {
      const Tensor& e = list->elements[i];
      const int64_t n = lengths.data<int64_t>()[i];
      if (e.valid()) write_at(e, at * row, &out);
      at += n;
    }
    ctx.set_output(0, std::move(out));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
  PartialShape attr_shape_;
};

}  // namespace

QTF_REGISTER_KERNEL("TensorListStack", StackKernel);
QTF_REGISTER_KERNEL("TensorListGather", GatherKernel);
QTF_REGISTER_KERNEL("TensorListConcat", ConcatKernel);
QTF_REGISTER_KERNEL("TensorListConcatV2", ConcatKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListStack"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "element_shape" type: DT_INT32 }
  output_arg { name: "tensor" type_attr: "element_dtype" }
  attr { name: "element_dtype" type: "type" }
  attr { name: "num_elements" type: "int" default_value { i: -1 } })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListGather"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "indices" type: DT_INT32 }
  input_arg { name: "element_shape" type: DT_INT32 }
  output_arg { name: "values" type_attr: "element_dtype" }
  attr { name: "element_dtype" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListConcat"
  input_arg { name: "input_handle" type: DT_VARIANT }
  output_arg { name: "tensor" type_attr: "element_dtype" }
  output_arg { name: "lengths" type: DT_INT64 }
  attr { name: "element_dtype" type: "type" }
  attr { name: "element_shape" type: "shape" default_value { shape { unknown_rank: true } } })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "TensorListConcatV2"
  input_arg { name: "input_handle" type: DT_VARIANT }
  input_arg { name: "element_shape" type_attr: "shape_type" }
  input_arg { name: "leading_dims" type: DT_INT64 }
  output_arg { name: "tensor" type_attr: "element_dtype" }
  output_arg { name: "lengths" type: DT_INT64 }
  attr { name: "element_dtype" type: "type" }
  attr {
    name: "shape_type"
    type: "type"
    allowed_values { list { type: DT_INT32 type: DT_INT64 } }
  })pb");

}  // namespace qtf
