// Node attribute access, kernel and op-definition registries.
#include "core/kernel.h"
#include "util/dtype_range.h"

#include <google/protobuf/text_format.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace qtf {

namespace {

using tensorflow::AttrValue;

const char* kind_name(AttrValue::ValueCase c) {
  switch (c) {
    case AttrValue::kList: return "a list";
    case AttrValue::kS: return "a string";
    case AttrValue::kI: return "an int";
    case AttrValue::kF: return "a float";
    case AttrValue::kB: return "a bool";
    case AttrValue::kType: return "a type";
    case AttrValue::kShape: return "a shape";
    case AttrValue::kTensor: return "a tensor";
    case AttrValue::kPlaceholder: return "an unresolved placeholder";
    case AttrValue::kFunc: return "a function";
    default: return "empty";
  }
}

// Registration happens during static initialisation, from many translation
// units in unknown order; the tables are function-local statics so they exist
// before the first registrar runs.
struct KernelTable {
  std::mutex mu;
  std::map<std::string, KernelFactory> factories;
};
KernelTable& kernel_table() {
  static KernelTable table;
  return table;
}

struct OpDefTable {
  std::mutex mu;
  std::map<std::string, std::unique_ptr<tensorflow::OpDef>> defs;
};
OpDefTable& op_def_table() {
  static OpDefTable table;
  return table;
}

}  // namespace

// ---------------------------------------------------------------- NodeAttrs

const AttrValue* NodeAttrs::find(const std::string& name) const {
  auto it = attrs_.find(name);
  return it == attrs_.end() ? nullptr : &it->second;
}

std::string NodeAttrs::where() const { return op_ + " node '" + node_name_ + "': "; }

namespace {

// Looks up `name` and checks its kind; a present attr with no value counts as
// an empty list for the list getters.
Status lookup(const NodeAttrs& attrs, const std::string& name, AttrValue::ValueCase want,
              const AttrValue** out) {
  const AttrValue* v = attrs.find(name);
  if (v == nullptr) return invalid_argument(attrs.where() + "attr '" + name + "' is missing");
  const bool empty_list = want == AttrValue::kList && v->value_case() == AttrValue::VALUE_NOT_SET;
  if (v->value_case() != want && !empty_list) {
    return invalid_argument(attrs.where() + "attr '" + name + "' should be " + kind_name(want) +
                            " but is " + kind_name(v->value_case()));
  }
  *out = v;
  return Status::ok();
}

}  // namespace

Status NodeAttrs::get_int(const std::string& name, int64_t* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kI, &v));
  *out = v->i();
  return Status::ok();
}

Status NodeAttrs::get_float(const std::string& name, float* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kF, &v));
  *out = v->f();
  return Status::ok();
}

Status NodeAttrs::get_bool(const std::string& name, bool* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kB, &v));
  *out = v->b();
  return Status::ok();
}

Status NodeAttrs::get_string(const std::string& name, std::string* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kS, &v));
  *out = v->s();
  return Status::ok();
}

Status NodeAttrs::get_type(const std::string& name, DataType* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kType, &v));
  if (!dtype_in_range(v->type())) return invalid_argument(where() + "attr '" + name + "' is not a valid type");
  *out = static_cast<DataType>(v->type());
  return Status::ok();
}

Status NodeAttrs::get_int_list(const std::string& name, std::vector<int64_t>* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kList, &v));
  out->assign(v->list().i().begin(), v->list().i().end());
  return Status::ok();
}

Status NodeAttrs::get_type_list(const std::string& name, std::vector<DataType>* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kList, &v));
  out->clear();
  for (int t : v->list().type()) {
    if (!dtype_in_range(t)) return invalid_argument(where() + "attr '" + name + "' holds an invalid type");
    out->push_back(static_cast<DataType>(t));
  }
  return Status::ok();
}

Status NodeAttrs::get_func(const std::string& name, const tensorflow::NameAttrList** out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kFunc, &v));
  *out = &v->func();
  return Status::ok();
}

Status NodeAttrs::get_func_list(const std::string& name,
                                std::vector<const tensorflow::NameAttrList*>* out) const {
  const AttrValue* v = nullptr;
  QTF_RETURN_IF_ERROR(lookup(*this, name, AttrValue::kList, &v));
  out->clear();
  for (const auto& f : v->list().func()) out->push_back(&f);
  return Status::ok();
}

int64_t NodeAttrs::int_or(const std::string& name, int64_t fallback) const {
  const AttrValue* v = find(name);
  return v != nullptr && v->value_case() == AttrValue::kI ? v->i() : fallback;
}

float NodeAttrs::float_or(const std::string& name, float fallback) const {
  const AttrValue* v = find(name);
  return v != nullptr && v->value_case() == AttrValue::kF ? v->f() : fallback;
}

bool NodeAttrs::bool_or(const std::string& name, bool fallback) const {
  const AttrValue* v = find(name);
  return v != nullptr && v->value_case() == AttrValue::kB ? v->b() : fallback;
}

std::string NodeAttrs::string_or(const std::string& name, const std::string& fallback) const {
  const AttrValue* v = find(name);
  return v != nullptr && v->value_case() == AttrValue::kS ? v->s() : fallback;
}

// ---------------------------------------------------------- OpKernelContext

Tensor OpKernelContext::take_input(int i) {
  if (movable_inputs_ == nullptr) return inputs_[static_cast<size_t>(i)];
  Tensor& slot = (*movable_inputs_)[static_cast<size_t>(i)];
  Tensor taken = std::move(slot);
  slot = Tensor();  // a moved-from Tensor keeps its dtype; make it plainly empty
  return taken;
}

Tensor& OpKernelContext::allocate_output(int i, DataType dtype, Shape shape) {
  Tensor& slot = (*outputs_)[static_cast<size_t>(i)];
  slot = Tensor::allocate(dtype, std::move(shape));
  return slot;
}

// ----------------------------------------------------------- KernelRegistry

KernelRegistry& KernelRegistry::global() {
  static KernelRegistry registry;
  return registry;
}

void KernelRegistry::add(const std::string& op, KernelFactory factory) {
  KernelTable& t = kernel_table();
  std::lock_guard<std::mutex> lock(t.mu);
  if (!t.factories.emplace(op, factory).second) {
    // Two kernels for one op is a build mistake; say so before anything runs.
    std::fprintf(stderr, "qtf: kernel for op '%s' registered twice\n", op.c_str());
    std::abort();
  }
}

KernelFactory KernelRegistry::find(const std::string& op) const {
  KernelTable& t = kernel_table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.factories.find(op);
  return it == t.factories.end() ? nullptr : it->second;
}

std::vector<std::string> KernelRegistry::ops() const {
  KernelTable& t = kernel_table();
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<std::string> names;
  names.reserve(t.factories.size());
  for (const auto& entry : t.factories) names.push_back(entry.first);
  return names;
}

// ------------------------------------------------------------ OpDefRegistry

OpDefRegistry& OpDefRegistry::global() {
  static OpDefRegistry registry;
  return registry;
}

void OpDefRegistry::add_text(const char* op_def_text) {
  auto def = std::make_unique<tensorflow::OpDef>();
  if (!google::protobuf::TextFormat::ParseFromString(op_def_text, def.get()) ||
      def->name().empty()) {
    std::fprintf(stderr, "qtf: cannot parse op definition:\n%s\n", op_def_text);
    std::abort();
  }
  OpDefTable& t = op_def_table();
  std::lock_guard<std::mutex> lock(t.mu);
  const std::string name = def->name();
  if (!t.defs.emplace(name, std::move(def)).second) {
    std::fprintf(stderr, "qtf: op definition '%s' registered twice\n", name.c_str());
    std::abort();
  }
}

const tensorflow::OpDef* OpDefRegistry::find(const std::string& op) const {
  OpDefTable& t = op_def_table();
  std::lock_guard<std::mutex> lock(t.mu);
  auto it = t.defs.find(op);
  return it == t.defs.end() ? nullptr : it->second.get();
}

std::vector<std::string> OpDefRegistry::ops() const {
  OpDefTable& t = op_def_table();
  std::lock_guard<std::mutex> lock(t.mu);
  std::vector<std::string> names;
  names.reserve(t.defs.size());
  for (const auto& entry : t.defs) names.push_back(entry.first);
  return names;
}

}  // namespace qtf
