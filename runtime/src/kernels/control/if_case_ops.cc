// If / StatelessIf and Case / StatelessCase: run one of several library
// functions on the node's inputs. Every branch is instantiated when the kernel
// is made; only the taken one runs.
#include <memory>
#include <vector>

#include "core/kernel.h"
#include "kernels/control/function_call.h"
#include "kernels/control/truth.h"

namespace qtf {
namespace {

class IfKernel : public OpKernel {
 public:
  IfKernel(const NodeAttrs& attrs, Status* status) {
    std::vector<DataType> tin, tout;
    const tensorflow::NameAttrList* then_fn = nullptr;
    const tensorflow::NameAttrList* else_fn = nullptr;
    *status = attrs.get_type_list("Tin", &tin);
    if (status->is_ok()) *status = attrs.get_type_list("Tout", &tout);
    if (status->is_ok()) *status = attrs.get_func("then_branch", &then_fn);
    if (status->is_ok()) *status = attrs.get_func("else_branch", &else_fn);
    if (status->is_ok()) *status = instantiate_callee(attrs, *then_fn, "then_branch", tin, &tout, &then_);
    if (status->is_ok()) *status = instantiate_callee(attrs, *else_fn, "else_branch", tin, &tout, &else_);
  }

  Status compute(OpKernelContext& ctx) override {
    bool taken = false;
    QTF_RETURN_IF_ERROR(tensor_truth(ctx.input(0), &taken));
    return call_into_outputs(taken ? *then_ : *else_, 1, ctx, &args_, &results_);
  }

 private:
  std::unique_ptr<FunctionHandle> then_, else_;
  std::vector<Tensor> args_, results_;
};

class CaseKernel : public OpKernel {
 public:
  CaseKernel(const NodeAttrs& attrs, Status* status) {
    std::vector<DataType> tin, tout;
    std::vector<const tensorflow::NameAttrList*> branches;
    *status = attrs.get_type_list("Tin", &tin);
    if (status->is_ok()) *status = attrs.get_type_list("Tout", &tout);
    if (status->is_ok()) *status = attrs.get_func_list("branches", &branches);
    if (status->is_ok() && branches.empty()) {
      *status = invalid_argument(attrs.where() + "attr 'branches' is empty");
    }
    for (size_t i = 0; status->is_ok() && i < branches.size(); ++i) {
      const std::string role = "branches[" + std::to_string(i) + "]";
      std::unique_ptr<FunctionHandle> fn;
      *status = instantiate_callee(attrs, *branches[i], role.c_str(), tin, &tout, &fn);
      branches_.push_back(std::move(fn));
    }
  }

  Status compute(OpKernelContext& ctx) override {
    const Tensor& index = ctx.input(0);
    if (index.rank() != 0) {
      return invalid_argument("branch_index must be scalar, got shape " + shape_string(index.shape()));
    }
    // Out of range runs the last branch, TensorFlow's default branch.
    const int32_t i = *index.data<int32_t>();
    const size_t branch = i < 0 || static_cast<size_t>(i) >= branches_.size()
                              ? branches_.size() - 1
                              : static_cast<size_t>(i);
    return call_into_outputs(*branches_[branch], 1, ctx, &args_, &results_);
  }

 private:
  std::vector<std::unique_ptr<FunctionHandle>> branches_;
  std::vector<Tensor> args_, results_;
};

}  // namespace

QTF_REGISTER_KERNEL("If", IfKernel);
QTF_REGISTER_KERNEL("StatelessIf", IfKernel);
QTF_REGISTER_KERNEL("Case", CaseKernel);
QTF_REGISTER_KERNEL("StatelessCase", CaseKernel);

#define QTF_IF_OP_DEF(name_text, stateful)                                      \
  "name: \"" name_text "\" "                                                  \
  "input_arg { name: \"cond\" type_attr: \"Tcond\" } "                        \
  "input_arg { name: \"input\" type_list_attr: \"Tin\" } "                    \
  "output_arg { name: \"output\" type_list_attr: \"Tout\" } "                 \
  "attr { name: \"Tcond\" type: \"type\" } "                                  \
  "attr { name: \"Tin\" type: \"list(type)\" has_minimum: true } "            \
  "attr { name: \"Tout\" type: \"list(type)\" has_minimum: true } "           \
  "attr { name: \"then_branch\" type: \"func\" } "                            \
  "attr { name: \"else_branch\" type: \"func\" } "                            \
  "attr { name: \"output_shapes\" type: \"list(shape)\" default_value { list { } } } " \
  "is_stateful: " stateful

#define QTF_CASE_OP_DEF(name_text, stateful)                                    \
  "name: \"" name_text "\" "                                                  \
  "input_arg { name: \"branch_index\" type: DT_INT32 } "                      \
  "input_arg { name: \"input\" type_list_attr: \"Tin\" } "                    \
  "output_arg { name: \"output\" type_list_attr: \"Tout\" } "                 \
  "attr { name: \"Tin\" type: \"list(type)\" has_minimum: true } "            \
  "attr { name: \"Tout\" type: \"list(type)\" has_minimum: true } "           \
  "attr { name: \"branches\" type: \"list(func)\" has_minimum: true minimum: 1 } " \
  "attr { name: \"output_shapes\" type: \"list(shape)\" default_value { list { } } } " \
  "is_stateful: " stateful

QTF_REGISTER_OP_DEF(QTF_IF_OP_DEF("If", "true"));
QTF_REGISTER_OP_DEF(QTF_IF_OP_DEF("StatelessIf", "false"));
QTF_REGISTER_OP_DEF(QTF_CASE_OP_DEF("Case", "true"));
QTF_REGISTER_OP_DEF(QTF_CASE_OP_DEF("StatelessCase", "false"));

}  // namespace qtf
