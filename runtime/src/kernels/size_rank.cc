// Size (element count as int32 or int64) and Rank (int32) of any tensor.
#include <limits>

#include "core/kernel.h"

namespace qtf {
namespace {

class SizeKernel : public OpKernel {
 public:
  SizeKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("out_type", &out_type_);
    if (status->is_ok() && out_type_ != TF_INT32 && out_type_ != TF_INT64) {
      *status = invalid_argument(where_ + "out_type must be int32 or int64");
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const int64_t n = ctx.input(0).num_elements();
    Tensor& out = ctx.allocate_output(0, out_type_, {});
    if (out_type_ == TF_INT64) {
      *out.data<int64_t>() = n;
    } else {
      if (n > std::numeric_limits<int32_t>::max()) {
        return invalid_argument(where_ + "size " + std::to_string(n) + " does not fit in int32");
      }
      *out.data<int32_t>() = static_cast<int32_t>(n);
    }
    return Status::ok();
  }

 private:
  std::string where_;
  DataType out_type_ = TF_INT32;
};

class RankKernel : public OpKernel {
 public:
  RankKernel(const NodeAttrs&, Status*) {}

  Status compute(OpKernelContext& ctx) override {
    *ctx.allocate_output(0, TF_INT32, {}).data<int32_t>() = ctx.input(0).rank();
    return Status::ok();
  }
};

}  // namespace

QTF_REGISTER_KERNEL("Size", SizeKernel);
QTF_REGISTER_KERNEL("Rank", RankKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Size"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type_attr: "out_type" }
  attr { name: "T" type: "type" }
  attr { name: "out_type" type: "type" default_value { type: DT_INT32 }
         allowed_values { list { type: [DT_INT32, DT_INT64] } } })pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "Rank"
  input_arg { name: "input" type_attr: "T" }
  output_arg { name: "output" type: DT_INT32 }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
