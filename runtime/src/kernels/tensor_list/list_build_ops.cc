// Ops that make a new list: EmptyTensorList, TensorListReserve,
// TensorListFromTensor, TensorListScatter(V2) and TensorListSplit.
#include <algorithm>
#include <cstring>

#include "kernels/index_input.h"
#include "kernels/tensor_list/tensor_list.h"

namespace qtf {
namespace {

Status read_count(const Tensor& t, const std::string& where, const char* what, int64_t* out) {
  if (t.rank() != 0) return invalid_argument(where + what + " must be a scalar, got " + shape_string(t.shape()));
  return read_index_scalar(t, where, what, out);
}

class EmptyTensorListKernel : public OpKernel {
 public:
  EmptyTensorListKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("element_dtype", &dtype_);
  }
  Status compute(OpKernelContext& ctx) override {
    TensorList list;
    list.element_dtype = dtype_;
    QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(0), where_, &list.element_shape));
    QTF_RETURN_IF_ERROR(read_count(ctx.input(1), where_, "max_num_elements", &list.max_num_elements));
    ctx.set_output(0, list_tensor(std::move(list)));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

class TensorListReserveKernel : public OpKernel {
 public:
  TensorListReserveKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("element_dtype", &dtype_);
  }
  Status compute(OpKernelContext& ctx) override {
    TensorList list;
    list.element_dtype = dtype_;
    QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(0), where_, &list.element_shape));
    int64_t n = 0;
    QTF_RETURN_IF_ERROR(read_count(ctx.input(1), where_, "num_elements", &n));
    if (n < 0) return invalid_argument(where_ + "num_elements must be non-negative, got " + std::to_string(n));
    list.elements.resize(static_cast<size_t>(n));
    ctx.set_output(0, list_tensor(std::move(list)));
    return Status::ok();
  }

 private:
  std::string where_;
  DataType dtype_ = TF_FLOAT;
};

// The rows of a tensor become the elements; `shape` must allow a row.
Status check_rows(const Tensor& t, const PartialShape& shape, const std::string& where) {
  if (!copyable_dtype(t.dtype())) {
    return unimplemented(where + "lists of " + dtype_name(t.dtype()) + " elements are not supported");
  }
  if (t.rank() < 1) {
    return invalid_argument(where + "Tensor must be at least a vector, but saw shape: " + shape_string(t.shape()));
  }
  const Shape row(t.shape().begin() + 1, t.shape().end());
  if (!shape.is_compatible_with(row)) {
    return invalid_argument(where + "Specified a list with shape " + shape.to_string() +
                            " from a tensor with shape " + shape_string(row));
  }
  return Status::ok();
}

class TensorListFromTensorKernel : public OpKernel {
 public:
  TensorListFromTensorKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}
  Status compute(OpKernelContext& ctx) override {
    const Tensor& t = ctx.input(0);
    TensorList list;
    list.element_dtype = t.dtype();
    QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(1), where_, &list.element_shape));
    QTF_RETURN_IF_ERROR(check_rows(t, list.element_shape, where_));
    list.elements.reserve(static_cast<size_t>(t.dim(0)));
    for (int64_t i = 0; i < t.dim(0); ++i) list.elements.push_back(copy_row(t, i));
    ctx.set_output(0, list_tensor(std::move(list)));
    return Status::ok();
  }

 private:
  std::string where_;
};

// TensorListScatter (tensor, indices, element_shape) and TensorListScatterV2
// (... num_elements): row k of the tensor becomes element indices[k].
class TensorListScatterKernel : public OpKernel {
 public:
  TensorListScatterKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}
  Status compute(OpKernelContext& ctx) override {
    const Tensor& t = ctx.input(0);
    const Tensor& indices = ctx.input(1);
    TensorList list;
    list.element_dtype = t.dtype();
    QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(2), where_, &list.element_shape));
    int64_t num_elements = -1;
    if (ctx.num_inputs() > 3) QTF_RETURN_IF_ERROR(read_count(ctx.input(3), where_, "num_elements", &num_elements));
    if (num_elements < -1) {
      return invalid_argument(where_ + "TensorListScatter expects num_elements >= -1, found: " +
                              std::to_string(num_elements));
    }
    QTF_RETURN_IF_ERROR(check_rows(t, list.element_shape, where_));
    if (indices.num_elements() != t.dim(0)) {
      return invalid_argument(where_ + "Invalid number of rows in input tensor. Expected: " +
                              std::to_string(indices.num_elements()) + " Actual: " + std::to_string(t.dim(0)));
    }
    int64_t highest = -1;
    for (int64_t k = 0; k < indices.num_elements(); ++k) {
      const int64_t i = indices.data<int32_t>()[k];
      if (i < 0) return invalid_argument(where_ + "Indices in TensorListScatter must all be non-negative.");
      if (num_elements != -1 && i >= num_elements) {
        return invalid_argument(where_ + "TensorListScatter: Trying to scatter at index " + std::to_string(i) +
                                " in list with size " + std::to_string(num_elements));
      }
      highest = std::max(highest, i);
    }
    list.elements.resize(static_cast<size_t>(std::max(highest + 1, num_elements)));
    for (int64_t k = 0; k < indices.num_elements(); ++k) {
      list.elements[static_cast<size_t>(indices.data<int32_t>()[k])] = copy_row(t, k);
    }
    ctx.set_output(0, list_tensor(std::move(list)));
    return Status::ok();
  }

 private:
  std::string where_;
};

// Consecutive slices of the first axis, lengths[i] rows each.
class TensorListSplitKernel : public OpKernel {
 public:
  TensorListSplitKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}
  Status compute(OpKernelContext& ctx) override {
    const Tensor& t = ctx.input(0);
    const Tensor& lengths = ctx.input(2);
    TensorList list;
    list.element_dtype = t.dtype();
    QTF_RETURN_IF_ERROR(shape_from_tensor(ctx.input(1), where_, &list.element_shape));
    // Pieces differ in length, so only the dtype and rank are checked here.
    QTF_RETURN_IF_ERROR(check_rows(t, PartialShape(), where_));
    if (lengths.rank() != 1) {
      return invalid_argument(where_ + "Expected lengths to be a vector, received shape: " +
                              shape_string(lengths.shape()));
    }
    const Shape inner(t.shape().begin() + 1, t.shape().end());
    const int64_t row = num_elements(inner) * static_cast<int64_t>(dtype_size(t.dtype()));
    int64_t start = 0;
    for (int64_t i = 0; i < lengths.num_elements(); ++i) {
      const int64_t n = lengths.data<int64_t>()[i];
      if (n < 0) return invalid_argument(where_ + "Invalid value in lengths: " + std::to_string(n));
      if (start + n > t.dim(0)) {
        return invalid_argument(where_ + "Attempting to slice [" + std::to_string(start) + ", " +
                                std::to_string(start + n) + "] from tensor with length " + std::to_string(t.dim(0)));
      }
      Shape shape = inner;
      shape.insert(shape.begin(), n);
      Tensor piece = Tensor::allocate(t.dtype(), shape);
      if (t.dtype() == TF_STRING) {
        const auto first = t.string_values().begin() + start * num_elements(inner);
        std::copy(first, first + n * num_elements(inner), piece.mutable_string_values().begin());
      } else if (piece.byte_size() > 0) {
        std::memcpy(piece.raw(), static_cast<const char*>(t.raw()) + start * row, piece.byte_size());
      }
      list.elements.push_back(std::move(piece));
      start += n;
    }
    if (start != t.dim(0)) {
      return invalid_argument(where_ + "Unused values in tensor. Length of tensor: " + std::to_string(t.dim(0)) +
                              " Values used: " + std::to_string(start));
    }
    ctx.set_output(0, list_tensor(std::move(list)));
    return Status::ok();
  }

 private:
  std::string where_;
};

}  // namespace

QTF_REGISTER_KERNEL("EmptyTensorList", EmptyTensorListKernel);
QTF_REGISTER_KERNEL("TensorListReserve", TensorListReserveKernel);
QTF_REGISTER_KERNEL("TensorListFromTensor", TensorListFromTensorKernel);
QTF_REGISTER_KERNEL("TensorListScatter", TensorListScatterKernel);
QTF_REGISTER_KERNEL("TensorListScatterV2", TensorListScatterKernel);
QTF_REGISTER_KERNEL("TensorListSplit", TensorListSplitKernel);

#define QTF_SHAPE_TYPE_ATTR \
  "attr { name: \"shape_type\" type: \"type\" allowed_values { list { type: DT_INT32 type: DT_INT64 } } } "

QTF_REGISTER_OP_DEF("name: \"EmptyTensorList\" "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "input_arg { name: \"max_num_elements\" type: DT_INT32 } "
                    "output_arg { name: \"handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

QTF_REGISTER_OP_DEF("name: \"TensorListReserve\" "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "input_arg { name: \"num_elements\" type: DT_INT32 } "
                    "output_arg { name: \"handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

QTF_REGISTER_OP_DEF("name: \"TensorListFromTensor\" "
                    "input_arg { name: \"tensor\" type_attr: \"element_dtype\" } "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "output_arg { name: \"output_handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

QTF_REGISTER_OP_DEF("name: \"TensorListScatter\" "
                    "input_arg { name: \"tensor\" type_attr: \"element_dtype\" } "
                    "input_arg { name: \"indices\" type: DT_INT32 } "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "output_arg { name: \"output_handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

QTF_REGISTER_OP_DEF("name: \"TensorListScatterV2\" "
                    "input_arg { name: \"tensor\" type_attr: \"element_dtype\" } "
                    "input_arg { name: \"indices\" type: DT_INT32 } "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "input_arg { name: \"num_elements\" type: DT_INT32 } "
                    "output_arg { name: \"output_handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

QTF_REGISTER_OP_DEF("name: \"TensorListSplit\" "
                    "input_arg { name: \"tensor\" type_attr: \"element_dtype\" } "
                    "input_arg { name: \"element_shape\" type_attr: \"shape_type\" } "
                    "input_arg { name: \"lengths\" type: DT_INT64 } "
                    "output_arg { name: \"output_handle\" type: DT_VARIANT } "
                    "attr { name: \"element_dtype\" type: \"type\" } " QTF_SHAPE_TYPE_ATTR);

}  // namespace qtf
