// ModelBuilder's library functions: begin_function / end_function build a
// FunctionDef the way TensorFlow exports branch and loop-body functions.
#include "model_builder_impl.h"

namespace qsm {

void ModelBuilder::Impl::infer_result_types(const tensorflow::OpDef& def, AttrMap* given) const {
  const tensorflow::NameAttrList* callee = nullptr;
  for (const auto& kv : *given) {
    if (kv.second.value_case() == tensorflow::AttrValue::kFunc) callee = &kv.second.func();
    if (kv.second.has_list() && kv.second.list().func_size() > 0) callee = &kv.second.list().func(0);
    if (callee != nullptr) break;
  }
  if (callee == nullptr) return;
  const auto fn = functions.find(callee->name());
  if (fn == functions.end()) return;
  for (const auto& arg : def.output_arg()) {
    if (arg.type_list_attr().empty() || given->find(arg.type_list_attr()) != given->end()) continue;
    // An attr the inputs also type (While's T) comes from the inputs.
    bool typed_by_inputs = false;
    for (const auto& in : def.input_arg()) typed_by_inputs = typed_by_inputs || in.type_list_attr() == arg.type_list_attr();
    if (typed_by_inputs) continue;
    tensorflow::AttrValue list;
    list.mutable_list();
    for (auto t : fn->second.results) list.mutable_list()->add_type(t);
    (*given)[arg.type_list_attr()] = list;
  }
}

std::vector<Output> ModelBuilder::begin_function(const std::string& name, const std::vector<FunctionArg>& args) {
  Impl& m = *impl_;
  if (!m.status.is_ok()) return {};
  if (!valid_node_name(name) || name.find('/') != std::string::npos) {
    m.fail("invalid function name '" + name + "'");
    return {};
  }
  bool open = false;
  for (const auto& s : m.scopes) open = open || s.name == name;
  if (open || m.functions.count(name) > 0) {
    m.fail("function '" + name + "' defined twice");
    return {};
  }
  Impl::Scope scope;
  scope.id = m.next_scope++;
  scope.name = name;
  m.scopes.push_back(std::move(scope));
  std::set<std::string> arg_names;
  std::vector<Output> out;
  for (const FunctionArg& arg : args) {
    const std::string arg_name = argument_name(arg.name);
    if (!arg_names.insert(arg_name).second) {
      m.fail("function '" + name + "': two arguments named '" + arg_name + "'");
      return {};
    }
    m.scopes.back().args.emplace_back(arg_name, static_cast<tensorflow::DataType>(arg.dtype));
    out.push_back(m.add_node({{arg_name}, {static_cast<tensorflow::DataType>(arg.dtype)}}));
  }
  // Body nodes may not take an argument's name.
  m.scopes.back().names = arg_names;
  return out;
}

tensorflow::AttrValue ModelBuilder::end_function(const std::vector<std::pair<std::string, Output>>& results,
                                                 const Attrs& attrs) {
  Impl& m = *impl_;
  tensorflow::AttrValue call;
  if (!m.status.is_ok()) return call;
  if (m.scopes.empty()) {
    m.fail("end_function without begin_function");
    return call;
  }
  Impl::Scope& scope = m.scopes.back();
  tensorflow::FunctionDef f;
  auto* sig = f.mutable_signature();
  sig->set_name(scope.name);
  for (const auto& [arg_name, type] : scope.args) {
    auto* arg = sig->add_input_arg();
    arg->set_name(arg_name);
    arg->set_type(type);
  }
  Impl::Signature signature;
  for (const auto& a : scope.args) signature.args.push_back(a.second);
  std::set<std::string> out_names;
  for (const auto& [result_name, value] : results) {
    if (!m.valid(value) || m.nodes[static_cast<size_t>(value.node)].scope != scope.id) {
      m.fail("function '" + scope.name + "': result '" + result_name + "' is not a value of the function");
      return call;
    }
    const std::string out_name = argument_name(result_name);
    if (!out_names.insert(out_name).second) {
      m.fail("function '" + scope.name + "': two results named '" + out_name + "'");
      return call;
    }
    const tensorflow::DataType type = m.type_of(value);
    const std::string& ref = m.ref(value);
    if (ref.find(':') == std::string::npos) {
      (*f.mutable_ret())[out_name] = ref;  // an argument, returned as it is
    } else {
      const std::string id = unique_name(result_name, &scope.names);
      tensorflow::NodeDef identity;
      identity.set_name(id);
      identity.set_op("Identity");
      identity.add_input(ref);
      (*identity.mutable_attr())["T"] = qsm::type(static_cast<TF_DataType>(type));
      scope.body.push_back(std::move(identity));
      (*f.mutable_ret())[out_name] = id + ":output:0";
    }
    auto* out = sig->add_output_arg();
    out->set_name(out_name);
    out->set_type(type);
    signature.results.push_back(type);
  }
  bool stateful = false;
  for (tensorflow::NodeDef& n : scope.body) {
    const tensorflow::OpDef* def = find_op_def(n.op());
    const bool has_effect = def != nullptr && def->is_stateful();
    stateful = stateful || has_effect;
    // As TensorFlow's automatic control dependencies do, an op run only for
    // its effect (Assert) is a control result, so a call runs it.
    if (has_effect && def->output_arg_size() == 0) {
      sig->add_control_output(n.name());
      (*f.mutable_control_ret())[n.name()] = n.name();
    }
    *f.add_node_def() = std::move(n);
  }
  sig->set_is_stateful(stateful);
  for (const auto& [key, value] : attrs) (*f.mutable_attr())[key] = value;
  m.functions[scope.name] = signature;
  m.net.functions.push_back(std::move(f));
  call.mutable_func()->set_name(scope.name);
  m.scopes.pop_back();
  return call;
}

}  // namespace qsm
