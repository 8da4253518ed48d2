// Small builders for hand-made GraphDefs, FunctionDefs and SavedModels in the
// runtime tests, written with the protobuf classes directly.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "graph.pb.h"
#include "saved_model.pb.h"
#include "tensor.pb.h"

namespace qtf::testing {

inline tensorflow::AttrValue type_attr(tensorflow::DataType t) {
  tensorflow::AttrValue v;
  v.set_type(t);
  return v;
}

inline tensorflow::AttrValue types_attr(std::initializer_list<tensorflow::DataType> ts) {
  tensorflow::AttrValue v;
  v.mutable_list();
  for (auto t : ts) v.mutable_list()->add_type(t);
  return v;
}

inline tensorflow::AttrValue string_attr(const std::string& s) {
  tensorflow::AttrValue v;
  v.set_s(s);
  return v;
}

inline tensorflow::AttrValue shape_attr(std::initializer_list<int64_t> dims) {
  tensorflow::AttrValue v;
  auto* shape = v.mutable_shape();
  for (int64_t d : dims) shape->add_dim()->set_size(d);
  return v;
}

inline tensorflow::AttrValue func_attr(const std::string& name) {
  tensorflow::AttrValue v;
  v.mutable_func()->set_name(name);
  return v;
}

inline tensorflow::TensorProto float_proto(std::initializer_list<int64_t> dims,
                                           std::initializer_list<float> values) {
  tensorflow::TensorProto p;
  p.set_dtype(tensorflow::DT_FLOAT);
  for (int64_t d : dims) p.mutable_tensor_shape()->add_dim()->set_size(d);
  for (float v : values) p.add_float_val(v);
  return p;
}

inline tensorflow::TensorProto string_proto(const std::vector<std::string>& values) {
  tensorflow::TensorProto p;
  p.set_dtype(tensorflow::DT_STRING);
  p.mutable_tensor_shape()->add_dim()->set_size(static_cast<int64_t>(values.size()));
  for (const auto& v : values) p.add_string_val(v);
  return p;
}

using Attrs = std::vector<std::pair<std::string, tensorflow::AttrValue>>;

inline tensorflow::NodeDef node(const std::string& name, const std::string& op,
                                std::vector<std::string> inputs = {}, const Attrs& attrs = {}) {
  tensorflow::NodeDef n;
  n.set_name(name);
  n.set_op(op);
  for (auto& i : inputs) n.add_input(i);
  for (const auto& [k, v] : attrs) (*n.mutable_attr())[k] = v;
  return n;
}

inline tensorflow::NodeDef const_node(const std::string& name, const tensorflow::TensorProto& value) {
  tensorflow::AttrValue v;
  *v.mutable_tensor() = value;
  return node(name, "Const", {}, {{"dtype", type_attr(value.dtype())}, {"value", v}});
}

inline tensorflow::NodeDef placeholder(const std::string& name, tensorflow::DataType dtype,
                                       std::initializer_list<int64_t> dims) {
  return node(name, "Placeholder", {}, {{"dtype", type_attr(dtype)}, {"shape", shape_attr(dims)}});
}

struct Arg {
  std::string name;
  tensorflow::DataType type;
};

inline tensorflow::FunctionDef function(const std::string& name, const std::vector<Arg>& inputs,
                                        const std::vector<Arg>& outputs,
                                        std::vector<tensorflow::NodeDef> body,
                                        const std::vector<std::pair<std::string, std::string>>& ret,
                                        const std::vector<std::pair<std::string, std::string>>& control_ret = {}) {
  tensorflow::FunctionDef f;
  f.mutable_signature()->set_name(name);
  for (const auto& a : inputs) {
    auto* arg = f.mutable_signature()->add_input_arg();
    arg->set_name(a.name);
    arg->set_type(a.type);
  }
  for (const auto& a : outputs) {
    auto* arg = f.mutable_signature()->add_output_arg();
    arg->set_name(a.name);
    arg->set_type(a.type);
  }
  for (auto& n : body) *f.add_node_def() = std::move(n);
  for (const auto& [k, v] : ret) (*f.mutable_ret())[k] = v;
  for (const auto& [k, v] : control_ret) {
    (*f.mutable_control_ret())[k] = v;
    f.mutable_signature()->add_control_output(k);
  }
  return f;
}

// A (Stateful)PartitionedCall node calling `f`.
inline tensorflow::NodeDef call(const std::string& name, const std::string& f,
                                std::vector<std::string> inputs,
                                std::initializer_list<tensorflow::DataType> tin,
                                std::initializer_list<tensorflow::DataType> tout,
                                const std::string& op = "StatefulPartitionedCall") {
  return node(name, op, std::move(inputs),
              {{"f", func_attr(f)}, {"Tin", types_attr(tin)}, {"Tout", types_attr(tout)}});
}

}  // namespace qtf::testing
