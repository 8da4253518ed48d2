// TensorList: the value of the variant tensors TensorFlow 2 uses for
// tf.TensorArray and the loops Keras RNN layers export to. Elements are
// ordinary tensors; an invalid one is an element not set yet (read as zeros
// once its shape is known). Lists are values: a kernel changes its input list
// only when it holds the only reference, and copies it otherwise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "graph/tensor_proto.h"

namespace qtf {

struct TensorList : VariantValue {
  std::vector<Tensor> elements;
  PartialShape element_shape;  // unknown rank by default
  DataType element_dtype = TF_FLOAT;
  int64_t max_num_elements = -1;  // -1: unbounded

  std::string type_name() const override { return "tensorflow::TensorList"; }
  std::shared_ptr<VariantValue> clone() const override { return std::make_shared<TensorList>(*this); }
};

// A scalar variant tensor holding `list`.
Tensor list_tensor(TensorList list);

// The list input `i` holds; INVALID_ARGUMENT unless it is a scalar TensorList.
Status input_list(const OpKernelContext& ctx, int i, const std::string& where, const TensorList** out);

// Makes output `output` the list of input `input`, ready to change: the same
// list when the kernel holds the only reference, a copy otherwise.
TensorList* forward_or_copy_list(OpKernelContext& ctx, int input, int output);

Status check_element_dtype(const TensorList& list, DataType dtype, const std::string& where);

// A shape given as a tensor: an int32/int64 vector (-1 = unknown dimension)
// or the scalar -1 for an unknown rank.
Status shape_from_tensor(const Tensor& t, const std::string& where, PartialShape* out);

// The most specific shape both allow; INVALID_ARGUMENT when they conflict.
Status merge_shapes(const PartialShape& a, const PartialShape& b, const std::string& where,
                    PartialShape* out);
PartialShape known_shape(const Shape& shape);
bool fully_defined(const PartialShape& shape);

// The element shape a read needs: the `element_shape` input merged with the
// list's, refined by the elements set at `indices` (all when null); it may
// stay partly unknown.
Status read_shape(const TensorList& list, const Tensor& element_shape, const std::vector<int64_t>* indices,
                  const std::string& where, PartialShape* out);

// A zero-filled tensor (empty strings for strings).
Tensor zeros(DataType dtype, const Shape& shape);

// Element `row` of `t` along its first axis, as a tensor of its own.
Tensor copy_row(const Tensor& t, int64_t row);
// Copies all of `src` into `dst` from flat element `offset` on (same dtype).
void write_at(const Tensor& src, int64_t offset, Tensor* dst);

// Element dtypes the list kernels copy: numbers, bool and strings.
bool copyable_dtype(DataType dtype);

}  // namespace qtf
