#include "exec/function_runtime.h"

namespace qtf {
namespace {

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
  *out = instance.get();
  instances_.emplace(key, std::move(instance));
  return Status::ok();
}

}  // namespace qtf
