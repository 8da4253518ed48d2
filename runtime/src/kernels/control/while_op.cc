// While / StatelessWhile: loop-carried tensors go through `cond` and `body`
// until the condition is false. Both functions are planned once; each
// iteration moves the loop variables into the body, so a TensorList or an
// accumulator is updated in place rather than copied.
#include <memory>
#include <vector>

#include "core/kernel.h"
#include "graph/tensor_proto.h"
#include "kernels/control/function_call.h"
#include "kernels/control/truth.h"

namespace qtf {
namespace {

class WhileKernel : public OpKernel {
 public:
  WhileKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    std::vector<DataType> types;
    const tensorflow::NameAttrList* cond = nullptr;
    const tensorflow::NameAttrList* body = nullptr;
    *status = attrs.get_type_list("T", &types);
    if (status->is_ok()) *status = attrs.get_func("cond", &cond);
    if (status->is_ok()) *status = attrs.get_func("body", &body);
    if (!status->is_ok()) return;
    // parallel_iterations only bounds how many iterations TensorFlow overlaps;
    // iterations here run one after another, which every value allows.
    if (const auto* shapes = attrs.find("output_shapes")) {
      for (const auto& s : shapes->list().shape()) output_shapes_.push_back(partial_shape_from_proto(s));
      if (!output_shapes_.empty() && output_shapes_.size() != types.size()) {
        *status = invalid_argument(where_ + "output_shapes has " + std::to_string(output_shapes_.size()) +
                                   " shapes for " + std::to_string(types.size()) + " loop variables");
        return;
      }
    }
    *status = instantiate_callee(attrs, *cond, "cond", types, nullptr, &cond_);
    if (status->is_ok() && cond_->result_types().size() != 1) {
      *status = invalid_argument(where_ + "cond '" + cond_->name() + "' returns " +
                                 std::to_string(cond_->result_types().size()) + " values, expected 1");
    }
    if (status->is_ok()) *status = instantiate_callee(attrs, *body, "body", types, &types, &body_);
  }

  Status compute(OpKernelContext& ctx) override {
    vars_.clear();
    for (int i = 0; i < ctx.num_inputs(); ++i) vars_.push_back(ctx.take_input(i));
    QTF_RETURN_IF_ERROR(check_shapes("input"));
    for (;;) {
      cond_args_.assign(vars_.begin(), vars_.end());
      QTF_RETURN_IF_ERROR(cond_->call(&cond_args_, &cond_results_));
      bool more = false;
      QTF_RETURN_IF_ERROR(tensor_truth(cond_results_[0], &more));
      cond_results_.clear();
      if (!more) break;
      QTF_RETURN_IF_ERROR(body_->call(&vars_, &body_results_));
      std::swap(vars_, body_results_);
      QTF_RETURN_IF_ERROR(check_shapes("body result"));
    }
    for (int i = 0; i < ctx.num_outputs(); ++i) ctx.set_output(i, std::move(vars_[static_cast<size_t>(i)]));
    vars_.clear();
    return Status::ok();
  }

 private:
  // A loop variable may change shape between iterations only as far as
  // output_shapes leaves its dimensions unknown.
  Status check_shapes(const char* what) const {
    for (size_t i = 0; i < output_shapes_.size(); ++i) {
      const Tensor& v = vars_[i];
      if (v.dtype() == TF_VARIANT || v.dtype() == TF_RESOURCE) continue;
      if (!output_shapes_[i].is_compatible_with(v.shape())) {
        return invalid_argument(where_ + "loop variable " + std::to_string(i) + " (" + what +
                                ") has shape " + shape_string(v.shape()) +
                                ", which output_shapes does not allow: " + output_shapes_[i].to_string());
      }
    }
    return Status::ok();
  }

  std::string where_;
  std::vector<PartialShape> output_shapes_;
  std::unique_ptr<FunctionHandle> cond_, body_;
  std::vector<Tensor> vars_, cond_args_, cond_results_, body_results_;
};

}  // namespace

QTF_REGISTER_KERNEL("While", WhileKernel);
QTF_REGISTER_KERNEL("StatelessWhile", WhileKernel);

#define QTF_WHILE_OP_DEF(name_text, stateful)                                   \
  "name: \"" name_text "\" "                                                  \
  "input_arg { name: \"input\" type_list_attr: \"T\" } "                      \
  "output_arg { name: \"output\" type_list_attr: \"T\" } "                    \
  "attr { name: \"T\" type: \"list(type)\" has_minimum: true } "              \
  "attr { name: \"cond\" type: \"func\" } "                                   \
  "attr { name: \"body\" type: \"func\" } "                                   \
  "attr { name: \"output_shapes\" type: \"list(shape)\" default_value { list { } } } " \
  "attr { name: \"parallel_iterations\" type: \"int\" default_value { i: 10 } } " \
  "is_stateful: " stateful

QTF_REGISTER_OP_DEF(QTF_WHILE_OP_DEF("While", "true"));
QTF_REGISTER_OP_DEF(QTF_WHILE_OP_DEF("StatelessWhile", "false"));

}  // namespace qtf
