// Placeholder and PlaceholderWithDefault. A fed placeholder never runs (the
// executor binds the fed value instead), so these only handle the unfed case:
// an error, or the default input passed through.
#include "core/kernel.h"
#include "graph/tensor_proto.h"

namespace qtf {
namespace {

class PlaceholderKernel : public OpKernel {
 public:
  PlaceholderKernel(const NodeAttrs& attrs, Status* status) : name_(attrs.node_name()) {
    DataType dtype = TF_FLOAT;
    *status = attrs.get_type("dtype", &dtype);
    dtype_ = dtype;
    if (const tensorflow::AttrValue* shape = attrs.find("shape")) {
      shape_ = partial_shape_from_proto(shape->shape()).to_string();
    }
  }

  Status compute(OpKernelContext&) override {
    return invalid_argument("You must feed a value for placeholder tensor '" + name_ +
                            "' with dtype " + dtype_name(dtype_) +
                            (shape_.empty() ? std::string() : " and shape " + shape_));
  }

 private:
  std::string name_;
  DataType dtype_ = TF_FLOAT;
  std::string shape_;
};

class PlaceholderWithDefaultKernel : public OpKernel {
 public:
  PlaceholderWithDefaultKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {
    if (const tensorflow::AttrValue* shape = attrs.find("shape")) {
      shape_ = partial_shape_from_proto(shape->shape());
    }
  }

  Status compute(OpKernelContext& ctx) override {
    if (!shape_.is_compatible_with(ctx.input(0).shape())) {
      return invalid_argument(where_ + "default value of shape " + shape_string(ctx.input(0).shape()) +
                              " is not compatible with " + shape_.to_string());
    }
    ctx.set_output(0, ctx.input(0));
    return Status::ok();
  }

 private:
  std::string where_;
  PartialShape shape_;
};

}  // namespace

QTF_REGISTER_KERNEL("Placeholder", PlaceholderKernel);
QTF_REGISTER_KERNEL("PlaceholderWithDefault", PlaceholderWithDefaultKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "Placeholder"
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "dtype" type: "type" }
  attr {
    name: "shape"
    type: "shape"
    default_value { shape { unknown_rank: true } }
  })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "PlaceholderWithDefault"
  input_arg { name: "input" type_attr: "dtype" }
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "dtype" type: "type" }
  attr { name: "shape" type: "shape" })pb");

}  // namespace qtf
