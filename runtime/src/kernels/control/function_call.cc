#include "kernels/control/function_call.h"

namespace qtf {
namespace {

std::string type_list(const std::vector<DataType>& types) {
  std::string out = "(";
  for (size_t i = 0; i < types.size(); ++i) {
    if (i > 0) out += ", ";
    out += dtype_name(types[i]);
  }
  return out + ")";
}

}  // namespace

Status instantiate_callee(const NodeAttrs& attrs, const tensorflow::NameAttrList& func,
                          const char* role, const std::vector<DataType>& args,
                          const std::vector<DataType>* results,
                          std::unique_ptr<FunctionHandle>* out) {
  FunctionLibrary* library = FunctionLibraryScope::current();
  if (library == nullptr) return failed_precondition(attrs.where() + "made outside a session");
  const Status s = library->instantiate(func, out);
  if (!s.is_ok()) return Status(s.code(), attrs.where() + role + ": " + s.message());
  const FunctionHandle& fn = **out;
  if (fn.arg_types() != args) {
    return invalid_argument(attrs.where() + role + " '" + fn.name() + "' takes " +
                            type_list(fn.arg_types()) + ", the node passes " + type_list(args));
  }
  if (results != nullptr && fn.result_types() != *results) {
    return invalid_argument(attrs.where() + role + " '" + fn.name() + "' returns " +
                            type_list(fn.result_types()) + ", the node declares " +
                            type_list(*results));
  }
  return Status::ok();
}

Status call_into_outputs(FunctionHandle& fn, int first_input, OpKernelContext& ctx,
                         std::vector<Tensor>* args, std::vector<Tensor>* results) {
  args->clear();
  for (int i = first_input; i < ctx.num_inputs(); ++i) args->push_back(ctx.take_input(i));
  QTF_RETURN_IF_ERROR(fn.call(args, results));
  if (static_cast<int>(results->size()) != ctx.num_outputs()) {
    return internal_error("Function '" + fn.name() + "' returned " + std::to_string(results->size()) +
                          " values for " + std::to_string(ctx.num_outputs()) + " outputs");
  }
  for (int i = 0; i < ctx.num_outputs(); ++i) {
    ctx.set_output(i, std::move((*results)[static_cast<size_t>(i)]));
  }
  results->clear();
  return Status::ok();
}

}  // namespace qtf
