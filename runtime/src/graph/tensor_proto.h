// Conversions between protobuf tensor descriptions and runtime tensors:
// TensorProto values (Const nodes, signature defaults) and TensorShapeProto
// shapes, including partially known shapes used to check feeds.
#pragma once

#include <string>

#include "core/status.h"
#include "core/tensor.h"
#include "tensor.pb.h"

namespace qtf {

// A shape that may have unknown dimensions (-1) or an unknown rank.
struct PartialShape {
  bool unknown_rank = true;
  Shape dims;

  bool is_compatible_with(const Shape& shape) const;
  std::string to_string() const;
};

PartialShape partial_shape_from_proto(const tensorflow::TensorShapeProto& proto);

// A fully known shape; INVALID_ARGUMENT (prefixed with `where`) otherwise.
Status shape_from_proto(const tensorflow::TensorShapeProto& proto, const std::string& where,
                        Shape* shape);

// Decodes the value of a TensorProto: non-empty tensor_content wins; a short
// typed *_val list repeats its last value over the rest; an empty one means zeros.
Status tensor_from_proto(const tensorflow::TensorProto& proto, const std::string& where,
                         Tensor* out);

}  // namespace qtf
