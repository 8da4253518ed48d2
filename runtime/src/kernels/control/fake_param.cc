// FakeParam: a stand-in TensorFlow puts into If branches for values only the
// other branch computes; it must never be read, so any value of the declared
// shape (unknown dimensions as 0) serves.
#include <cstring>

#include "core/kernel.h"
#include "graph/tensor_proto.h"

namespace qtf {
namespace {

class FakeParamKernel : public OpKernel {
 public:
  FakeParamKernel(const NodeAttrs& attrs, Status* status) {
    DataType dtype = TF_FLOAT;
    *status = attrs.get_type("dtype", &dtype);
    if (!status->is_ok()) return;
    Shape shape;
    if (const auto* s = attrs.find("shape")) {
      const PartialShape partial = partial_shape_from_proto(s->shape());
      if (!partial.unknown_rank) {
        for (int64_t d : partial.dims) shape.push_back(d < 0 ? 0 : d);
      }
    }
    value_ = Tensor::allocate(dtype, shape);
    if (value_.byte_size() > 0) std::memset(value_.raw(), 0, value_.byte_size());
  }

  Status compute(OpKernelContext& ctx) override {
    ctx.set_output(0, value_);
    return Status::ok();
  }

 private:
  Tensor value_;
};

}  // namespace

QTF_REGISTER_KERNEL("FakeParam", FakeParamKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "FakeParam"
  output_arg { name: "output" type_attr: "dtype" }
  attr { name: "dtype" type: "type" }
  attr { name: "shape" type: "shape" })pb");

}  // namespace qtf
