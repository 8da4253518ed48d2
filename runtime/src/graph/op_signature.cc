#include "graph/op_signature.h"

#include "core/kernel.h"
#include "util/dtype_range.h"

namespace qtf {

OpDefLookup::OpDefLookup(const tensorflow::OpList& stripped) {
  for (const auto& def : stripped.op()) stripped_[def.name()] = &def;
}

const tensorflow::OpDef* OpDefLookup::find(const std::string& op) const {
  const auto it = stripped_.find(op);
  if (it != stripped_.end()) return it->second;
  return OpDefRegistry::global().find(op);
}

void fill_default_attrs(const tensorflow::OpDef& def, AttrMap* attrs) {
  for (const auto& attr : def.attr()) {
    if (attr.has_default_value() && attrs->find(attr.name()) == attrs->end()) {
      (*attrs)[attr.name()] = attr.default_value();
    }
  }
}

int OutputLayout::flat_index(const std::string& arg, int index) const {
  for (const auto& a : args) {
    if (a.name == arg) return index >= 0 && index < a.count ? a.first + index : -1;
  }
  return -1;
}

Status arg_layout(const google::protobuf::RepeatedPtrField<tensorflow::OpDef::ArgDef>& args,
                  const AttrMap& attrs, const std::string& where, OutputLayout* out) {
  out->args.clear();
  out->types.clear();
  auto attr = [&](const std::string& name, const tensorflow::AttrValue** value) -> Status {
    const auto it = attrs.find(name);
    if (it == attrs.end()) return invalid_argument(where + "attr '" + name + "' is missing");
    *value = &it->second;
    return Status::ok();
  };
  for (const auto& arg : args) {
    OutputArg expanded{arg.name(), static_cast<int>(out->types.size()), 0};
    if (!arg.type_list_attr().empty()) {
      const tensorflow::AttrValue* list = nullptr;
      QTF_RETURN_IF_ERROR(attr(arg.type_list_attr(), &list));
      for (int t : list->list().type()) {
        DataType type = TF_FLOAT;
        QTF_RETURN_IF_ERROR(checked_dtype(t, where, &type));
        out->types.push_back(type);
      }
    } else {
      DataType type = TF_FLOAT;
      QTF_RETURN_IF_ERROR(checked_dtype(arg.type(), where, &type));
      if (!arg.type_attr().empty()) {
        const tensorflow::AttrValue* value = nullptr;
        QTF_RETURN_IF_ERROR(attr(arg.type_attr(), &value));
        if (value->value_case() != tensorflow::AttrValue::kType) {
          return invalid_argument(where + "attr '" + arg.type_attr() + "' is not a type");
        }
        QTF_RETURN_IF_ERROR(checked_dtype(value->type(), where, &type));
      }
      int64_t count = 1;
      if (!arg.number_attr().empty()) {
        const tensorflow::AttrValue* value = nullptr;
        QTF_RETURN_IF_ERROR(attr(arg.number_attr(), &value));
        count = value->i();
        if (count < 0 || count > (1 << 20)) {
          return invalid_argument(where + "attr '" + arg.number_attr() + "' = " +
                                  std::to_string(count) + " is not a valid list length");
        }
      }
      for (int64_t i = 0; i < count; ++i) out->types.push_back(type);
    }
    expanded.count = static_cast<int>(out->types.size()) - expanded.first;
    out->args.push_back(expanded);
  }
  return Status::ok();
}

}  // namespace qtf
