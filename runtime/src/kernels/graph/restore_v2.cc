// RestoreV2: reads whole tensors from a V2 checkpoint. Each output's stored
// dtype must match `dtypes`; slice specs are not supported.
#include "checkpoint/bundle_reader.h"
#include "core/kernel.h"

namespace qtf {
namespace {

class RestoreV2Kernel : public OpKernel {
 public:
  RestoreV2Kernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type_list("dtypes", &dtypes_);
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& prefix = ctx.input(0);
    const Tensor& names = ctx.input(1);
    const Tensor& slices = ctx.input(2);
    if (prefix.dtype() != TF_STRING || prefix.num_elements() != 1) {
      return invalid_argument(where_ + "prefix must be a single string");
    }
    if (names.dtype() != TF_STRING || slices.dtype() != TF_STRING ||
        names.num_elements() != static_cast<int64_t>(dtypes_.size()) ||
        slices.num_elements() != static_cast<int64_t>(dtypes_.size())) {
      return invalid_argument(where_ + "expects " + std::to_string(dtypes_.size()) +
                              " tensor names and slice specs");
    }
    BundleReader reader;
    QTF_RETURN_IF_ERROR(reader.open(prefix.string_values()[0]));
    for (size_t i = 0; i < dtypes_.size(); ++i) {
      const std::string& key = names.string_values()[i];
      if (!slices.string_values()[i].empty()) {
        return unimplemented(where_ + "restoring a slice of '" + key + "' is not supported");
      }
      Tensor value;
      QTF_RETURN_IF_ERROR(reader.read(key, &value));
      if (value.dtype() != dtypes_[i]) {
        return invalid_argument(where_ + "checkpoint tensor '" + key + "' is " +
                                dtype_name(value.dtype()) + ", expected " + dtype_name(dtypes_[i]));
      }
      ctx.set_output(static_cast<int>(i), std::move(value));
    }
    return Status::ok();
  }

 private:
  std::string where_;  // message prefix naming the node
  std::vector<DataType> dtypes_;
};

}  // namespace

QTF_REGISTER_KERNEL("RestoreV2", RestoreV2Kernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "RestoreV2"
  input_arg { name: "prefix" type: DT_STRING }
  input_arg { name: "tensor_names" type: DT_STRING }
  input_arg { name: "shape_and_slices" type: DT_STRING }
  output_arg { name: "tensors" type_list_attr: "dtypes" }
  attr { name: "dtypes" type: "list(type)" has_minimum: true minimum: 1 }
  is_stateful: true)pb");

}  // namespace qtf
