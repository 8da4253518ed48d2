// Op definition lookup with the writer's own fallback definitions.
#include "op_defs.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/kernel.h"

namespace qsm {

namespace {

// SaveV2 as TensorFlow defines it: the writer emits it in the save function
// so TensorFlow could save the model again, but the runtime never runs it and
// so does not register it. Every other op comes from the runtime's registry.
const char* const kFallbackOpDefs[] = {
    R"pb(name: "SaveV2"
       input_arg { name: "prefix" type: DT_STRING }
       input_arg { name: "tensor_names" type: DT_STRING }
       input_arg { name: "shape_and_slices" type: DT_STRING }
       input_arg { name: "tensors" type_list_attr: "dtypes" }
       attr { name: "dtypes" type: "list(type)" has_minimum: true minimum: 1 }
       is_stateful: true)pb",
};

const std::map<std::string, tensorflow::OpDef>& fallback_defs() {
  static const std::map<std::string, tensorflow::OpDef> defs = [] {
    std::map<std::string, tensorflow::OpDef> m;
    for (const char* text : kFallbackOpDefs) {
      tensorflow::OpDef def;
      if (!google::protobuf::TextFormat::ParseFromString(text, &def)) {
        std::fprintf(stderr, "savedmodel writer: bad built-in op definition\n%s\n", text);
        std::abort();
      }
      m.emplace(def.name(), def);
    }
    return m;
  }();
  return defs;
}

std::string serialized(const tensorflow::AttrValue& v) {
  std::string out;
  google::protobuf::io::StringOutputStream stream(&out);
  google::protobuf::io::CodedOutputStream coded(&stream);
  coded.SetSerializationDeterministic(true);
  v.SerializeToCodedStream(&coded);
  coded.Trim();
  return out;
}

}  // namespace

const tensorflow::OpDef* find_op_def(const std::string& op) {
  if (const tensorflow::OpDef* def = qtf::OpDefRegistry::global().find(op)) return def;
  auto it = fallback_defs().find(op);
  return it == fallback_defs().end() ? nullptr : &it->second;
}

bool same_attr(const tensorflow::AttrValue& a, const tensorflow::AttrValue& b) {
  return serialized(a) == serialized(b);
}

AttrMap with_defaults(const tensorflow::OpDef& def, const AttrMap& attrs) {
  AttrMap out = attrs;
  for (const auto& attr : def.attr()) {
    if (attr.has_default_value() && out.find(attr.name()) == out.end()) {
      out[attr.name()] = attr.default_value();
    }
  }
  return out;
}

void strip_default_attrs(const tensorflow::OpDef& def, AttrMap* attrs) {
  for (const auto& attr : def.attr()) {
    if (!attr.has_default_value()) continue;
    auto it = attrs->find(attr.name());
    if (it != attrs->end() && same_attr(it->second, attr.default_value())) attrs->erase(it);
  }
}

int arg_length(const tensorflow::OpDef::ArgDef& arg, const AttrMap& attrs) {
  if (!arg.number_attr().empty()) {
    auto it = attrs.find(arg.number_attr());
    if (it == attrs.end() || it->second.value_case() != tensorflow::AttrValue::kI) return -1;
    return static_cast<int>(it->second.i());
  }
  if (!arg.type_list_attr().empty()) {
    auto it = attrs.find(arg.type_list_attr());
    if (it == attrs.end() || it->second.value_case() != tensorflow::AttrValue::kList) return -1;
    return it->second.list().type_size();
  }
  return 1;
}

std::vector<tensorflow::DataType> arg_types(const tensorflow::OpDef::ArgDef& arg,
                                            const AttrMap& attrs) {
  if (!arg.type_list_attr().empty()) {
    auto it = attrs.find(arg.type_list_attr());
    if (it == attrs.end() || it->second.value_case() != tensorflow::AttrValue::kList) return {};
    std::vector<tensorflow::DataType> types;
    for (int t : it->second.list().type()) types.push_back(static_cast<tensorflow::DataType>(t));
    return types;
  }
  tensorflow::DataType type = arg.type();
  if (!arg.type_attr().empty()) {
    auto it = attrs.find(arg.type_attr());
    if (it == attrs.end() || it->second.value_case() != tensorflow::AttrValue::kType) return {};
    type = it->second.type();
  }
  const int n = arg_length(arg, attrs);
  if (n < 0 || type == tensorflow::DT_INVALID) return {};
  return std::vector<tensorflow::DataType>(static_cast<size_t>(n), type);
}

qtf::Status output_refs(const std::string& node_name, const tensorflow::OpDef& def,
                        const AttrMap& attrs, std::vector<std::string>* refs,
                        std::vector<tensorflow::DataType>* types) {
  refs->clear();
  types->clear();
  for (const auto& arg : def.output_arg()) {
    const int n = arg_length(arg, attrs);
    std::vector<tensorflow::DataType> arg_type_list = arg_types(arg, attrs);
    if (n < 0 || static_cast<int>(arg_type_list.size()) != n) {
      return qtf::invalid_argument(def.name() + " node '" + node_name +
                                   "': cannot tell the type or length of output '" + arg.name() + "'");
    }
    for (int k = 0; k < n; ++k) {
      refs->push_back(node_name + ":" + arg.name() + ":" + std::to_string(k));
      types->push_back(arg_type_list[static_cast<size_t>(k)]);
    }
  }
  return qtf::Status::ok();
}

}  // namespace qsm
