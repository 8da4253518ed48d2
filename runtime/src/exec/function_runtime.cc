#include "exec/function_runtime.h"

#include "exec/executor.h"

namespace qtf {
namespace {

class InstanceHandle : public FunctionHandle {
 public:
  explicit InstanceHandle(const FunctionInstance* instance) : instance_(instance) {}
  const std::string& name() const override { return instance_->instance->body().function_name(); }
  const std::vector<DataType>& arg_types() const override { return instance_->arg_types; }
  const std::vector<DataType>& result_types() const override {
    return instance_->instance->body().ret_types();
  }
  Status call(std::vector<Tensor>* args, std::vector<Tensor>* results) override {
    return frame_.run(*instance_->plan, args, results);
  }

 private:
  const FunctionInstance* instance_;
  Frame frame_;
};

// Instances differ only by the attrs the signature declares; TF2 concrete
// functions declare none, so their key is the bare name.
std::string instance_key(const tensorflow::FunctionDef& function, const AttrMap& attrs) {
  std::string key = function.signature().name();
  for (const auto& attr : function.signature().attr()) {
    const auto it = attrs.find(attr.name());
    key += '\n';
    key += attr.name();
    key += '=';
    if (it != attrs.end()) key += it->second.ShortDebugString();
  }
  return key;
}

}  // namespace

Status FunctionRuntime::instantiate(const tensorflow::FunctionDef& function, const AttrMap& attrs,
                                    const FunctionInstance** out) {
  const std::string key = instance_key(function, attrs);
  const auto found = instances_.find(key);
  if (found != instances_.end()) {
    *out = found->second.get();
    return Status::ok();
  }
  if (!in_progress_.insert(key).second) {
    return unimplemented("Function '" + function.signature().name() + "' calls itself");
  }
  struct Done {
    std::set<std::string>* set;
    const std::string& key;
    ~Done() { set->erase(key); }
  } done{&in_progress_, key};

  std::unique_ptr<Body> body;
  QTF_RETURN_IF_ERROR(Body::from_function(graph_, function, attrs, &body));
  auto instance = std::make_unique<FunctionInstance>();
  instance->instance = std::make_unique<BodyInstance>(std::move(body), this);
  const Body& b = instance->instance->body();
  std::vector<ValueRef> args;
  for (int i = 0; i < b.num_args(); ++i) args.push_back(ValueRef{i, 0});
  QTF_RETURN_IF_ERROR(instance->instance->make_plan(args, b.rets(), b.control_rets(), &instance->plan));
  for (const ValueRef& arg : args) instance->arg_types.push_back(b.node(arg.node).outputs.types[0]);
  *out = instance.get();
  instances_.emplace(key, std::move(instance));
  return Status::ok();
}

Status FunctionRuntime::instantiate(const tensorflow::NameAttrList& func,
                                    std::unique_ptr<FunctionHandle>* out) {
  const tensorflow::FunctionDef* function = graph_.find_function(func.name());
  if (function == nullptr) {
    return not_found("Function '" + func.name() + "' is not in the library");
  }
  const FunctionInstance* instance = nullptr;
  QTF_RETURN_IF_ERROR(instantiate(*function, func.attr(), &instance));
  *out = std::make_unique<InstanceHandle>(instance);
  return Status::ok();
}

}  // namespace qtf
