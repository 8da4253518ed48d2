// ModelBuilder: collects the network node by node, inferring type attributes
// from the op definitions, and hands it to the SavedModel assembly.
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "bundle_writer.h"
#include "model_builder_impl.h"
#include "object_graph.h"
#include "wrapped_graph.h"

namespace qsm {

namespace {

const char* type_name(tensorflow::DataType t) {
  return tensorflow::DataType_IsValid(t) ? tensorflow::DataType_Name(t).c_str() + 3 : "invalid";
}

qtf::Status make_dir(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return qtf::Status::ok();
    return qtf::Status(TF_ALREADY_EXISTS, path + " exists and is not a folder");
  }
  return qtf::Status(TF_PERMISSION_DENIED,
                     "cannot create folder " + path + ": " + std::strerror(errno));
}

qtf::Status make_dirs(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    QTF_RETURN_IF_ERROR(make_dir(path.substr(0, slash)));
  }
  return make_dir(path);
}

qtf::Status write_file(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  if (!out) return qtf::Status(TF_PERMISSION_DENIED, "cannot write " + path);
  return qtf::Status::ok();
}

}  // namespace

std::string argument_name(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += std::isalnum(u) ? static_cast<char>(std::tolower(u)) : '_';
  }
  if (out.empty() || !std::isalpha(static_cast<unsigned char>(out[0]))) out = "arg_" + out;
  return out;
}

std::string unique_name(const std::string& base, std::set<std::string>* used) {
  std::string name = base;
  for (int k = 1; used->count(name) != 0; ++k) name = base + "_" + std::to_string(k);
  used->insert(name);
  return name;
}

bool valid_node_name(const std::string& name) {
  if (name.empty()) return false;
  for (size_t k = 0; k < name.size(); ++k) {
    const auto c = static_cast<unsigned char>(name[k]);
    const bool ok = std::isalnum(c) || c == '.' ||
                    (k > 0 && (c == '_' || c == '-' || c == '/' || c == '>'));
    if (!ok) return false;
  }
  return true;
}


ModelBuilder::ModelBuilder(WriterOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
}
ModelBuilder::~ModelBuilder() = default;

const qtf::Status& ModelBuilder::status() const { return impl_->status; }

TF_DataType ModelBuilder::dtype(Output value) const {
  if (!impl_->valid(value)) return static_cast<TF_DataType>(0);
  return static_cast<TF_DataType>(impl_->type_of(value));
}

Output ModelBuilder::input(const std::string& name, TF_DataType dtype, const Shape& shape) {
  Impl& m = *impl_;
  if (!m.status.is_ok() || !m.at_top("an input")) return Output{};
  if (name.empty()) return m.fail("input name must not be empty");
  if (!m.input_names.insert(name).second) return m.fail("input '" + name + "' added twice");
  for (int64_t d : shape) {
    if (d < -1) return m.fail("input '" + name + "' has an invalid dimension");
  }
  NetworkInput in;
  in.name = name;
  std::string op_name = m.options.signature_key + "_" + name;
  for (char& c : op_name) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '_' && c != '.' && c != '-' && c != '/') c = '_';
  }
  in.op_name = op_name;
  in.arg_name = unique_name(argument_name(name), &m.arg_names);
  in.dtype = dtype;
  in.shape = shape;
  m.net.inputs.push_back(in);
  return m.add_node({{in.arg_name}, {static_cast<tensorflow::DataType>(dtype)}});
}

Output ModelBuilder::variable(const std::string& name, TensorValue value) {
  Impl& m = *impl_;
  if (!m.status.is_ok() || !m.at_top("a variable")) return Output{};
  if (!valid_node_name(name) || name.find("//") != std::string::npos || name.back() == '/') {
    return m.fail("invalid variable name '" + name + "'");
  }
  if (m.net.wrapped) return m.fail("variable '" + name + "': a wrapping model has no variables of its own");
  if (!m.variable_names.insert(name).second) return m.fail("variable '" + name + "' added twice");
  qtf::Status s = value.validate();
  if (!s.is_ok()) return m.fail("variable '" + name + "': " + s.message());
  if (value.dtype == TF_STRING) return m.fail("variable '" + name + "': string variables are not supported");
  NetworkVariable var;
  var.name = name;
  var.arg_name = unique_name(argument_name(name) + "_readvariableop_resource", &m.arg_names);
  const TF_DataType dtype = value.dtype;
  var.value = std::move(value);
  m.net.variables.push_back(var);
  // The network sees the variable through a ReadVariableOp on its resource argument.
  Output handle = m.add_node({{var.arg_name}, {tensorflow::DT_RESOURCE}});
  return m.add_op("ReadVariableOp", {handle}, {{"dtype", type(dtype)}}, name + "/ReadVariableOp");
}

void ModelBuilder::wrap(const tensorflow::MetaGraphDef& source, const std::string& source_dir) {
  Impl& m = *impl_;
  if (!m.status.is_ok()) return;
  if (m.net.wrapped || !m.nodes.empty()) {
    m.fail("wrap must come first, and once");
    return;
  }
  m.net.wrapped = std::make_shared<const WrappedModel>(WrappedModel{source, source_dir});
}

Output ModelBuilder::capture(const std::string& source_tensor, TF_DataType dtype) {
  Impl& m = *impl_;
  if (!m.status.is_ok()) return Output{};
  if (!m.net.wrapped) return m.fail("capture of '" + source_tensor + "' needs a wrapped model");
  const std::string node = source_tensor.substr(0, source_tensor.rfind(':'));
  bool found = false;
  for (const auto& n : m.net.wrapped->meta.graph_def().node()) found = found || n.name() == node;
  if (!found) return m.fail("capture of '" + source_tensor + "': the wrapped graph has no node '" + node + "'");
  NetworkCapture capture;
  capture.source_tensor = source_tensor;
  capture.arg_name = unique_name(argument_name(node) + "_capture", &m.arg_names);
  capture.dtype = dtype;
  m.net.captures.push_back(capture);
  return m.add_node({{capture.arg_name}, {static_cast<tensorflow::DataType>(dtype)}});
}

Output ModelBuilder::constant(TensorValue value, const std::string& name) {
  Impl& m = *impl_;
  if (!m.status.is_ok()) return Output{};
  qtf::Status s = value.validate();
  if (!s.is_ok()) return m.fail("constant '" + name + "': " + s.message());
  return m.add_op("Const", {}, {{"value", tensor(value)}, {"dtype", type(value.dtype)}}, name);
}

Output ModelBuilder::op(const std::string& op, const std::vector<Output>& inputs,
                        const Attrs& attrs, const std::string& name) {
  return impl_->add_op(op, inputs, attrs, name);
}

Output ModelBuilder::Impl::add_op(const std::string& op, const std::vector<Output>& inputs,
                                  const Attrs& attrs, const std::string& name) {
  if (!status.is_ok()) return Output{};
  const std::string what = op + " node" + (name.empty() ? "" : " '" + name + "'");
  const tensorflow::OpDef* def = find_op_def(op);
  if (def == nullptr) return fail("unknown op '" + op + "': no op definition in the runtime");
  for (size_t k = 0; k < inputs.size(); ++k) {
    if (!valid(inputs[k])) return fail(what + ": input " + std::to_string(k) + " is invalid");
    if (nodes[static_cast<size_t>(inputs[k].node)].scope != scope()) {
      return fail(what + ": input " + std::to_string(k) +
                  " belongs to another function; pass it in as an argument");
    }
  }
  AttrMap given;
  for (const auto& [key, value] : attrs) given[key] = value;
  infer_result_types(*def, &given);

  // How many inputs each input arg takes; at most one list arg may be open.
  const int nargs = def->input_arg_size();
  std::vector<int> lengths(static_cast<size_t>(nargs));
  int open = -1, known = 0;
  for (int a = 0; a < nargs; ++a) {
    const int n = arg_length(def->input_arg(a), with_defaults(*def, given));
    if (n >= 0) {
      lengths[static_cast<size_t>(a)] = n;
      known += n;
    } else if (open < 0) {
      open = a;
    } else {
      return fail(what + ": give the length attr of input '" + def->input_arg(a).name() + "'");
    }
  }
  const int count = static_cast<int>(inputs.size());
  if (open >= 0) {
    if (count < known) return fail(what + ": too few inputs (" + std::to_string(count) + ")");
    lengths[static_cast<size_t>(open)] = count - known;
  } else if (count != known) {
    return fail(what + ": expects " + std::to_string(known) + " inputs, got " + std::to_string(count));
  }

  // Infer or check the attrs that give input types and list lengths.
  size_t next = 0;
  for (int a = 0; a < nargs; ++a) {
    const auto& arg = def->input_arg(a);
    const auto n = static_cast<size_t>(lengths[static_cast<size_t>(a)]);
    std::vector<tensorflow::DataType> got;
    for (size_t k = 0; k < n; ++k) got.push_back(type_of(inputs[next + k]));
    next += n;
    if (!arg.number_attr().empty() && given.find(arg.number_attr()) == given.end()) {
      given[arg.number_attr()] = integer(static_cast<int64_t>(n));
    }
    if (!arg.type_list_attr().empty() && given.find(arg.type_list_attr()) == given.end()) {
      tensorflow::AttrValue list;
      list.mutable_list();
      for (auto t : got) list.mutable_list()->add_type(t);
      given[arg.type_list_attr()] = list;
    }
    if (!arg.type_attr().empty() && given.find(arg.type_attr()) == given.end() && !got.empty()) {
      given[arg.type_attr()] = type(static_cast<TF_DataType>(got[0]));
    }
    const std::vector<tensorflow::DataType> want = arg_types(arg, with_defaults(*def, given));
    if (want.size() != got.size()) {
      return fail(what + ": cannot tell the types of input '" + arg.name() + "'");
    }
    for (size_t k = 0; k < got.size(); ++k) {
      if (want[k] != got[k]) {
        return fail(what + ": input '" + arg.name() + "' is " + type_name(got[k]) + ", expected " +
                    type_name(want[k]));
      }
    }
  }
  const AttrMap full = with_defaults(*def, given);
  for (const auto& attr : def->attr()) {
    if (full.find(attr.name()) == full.end()) return fail(what + ": attr '" + attr.name() + "' is missing");
  }

  std::string node_name;
  if (name.empty()) {
    node_name = unique_name(op, &names());
  } else if (!valid_node_name(name)) {
    return fail(what + ": invalid node name");
  } else if (!names().insert(name).second) {
    return fail(what + ": node name already used");
  } else {
    node_name = name;
  }
  NodeInfo info;
  qtf::Status s = output_refs(node_name, *def, full, &info.refs, &info.types);
  if (!s.is_ok()) return fail(s.message());

  tensorflow::NodeDef node;
  node.set_name(node_name);
  node.set_op(op);
  for (const Output& in : inputs) node.add_input(ref(in));
  *node.mutable_attr() = given;
  strip_default_attrs(*def, node.mutable_attr());
  body().push_back(std::move(node));
  // An op without outputs (e.g. NoOp) still gets a handle, for error reporting.
  if (info.refs.empty()) {
    nodes.push_back(std::move(info));
    return Output{static_cast<int>(nodes.size()) - 1, 0};
  }
  return add_node(std::move(info));
}

void ModelBuilder::output(const std::string& name, Output value) {
  output(name, value, Shape{});
  if (impl_->status.is_ok()) impl_->net.outputs.back().has_shape = false;
}

void ModelBuilder::output(const std::string& name, Output value, const Shape& shape) {
  Impl& m = *impl_;
  if (!m.status.is_ok() || !m.at_top("an output")) return;
  if (name.empty()) {
    m.fail("output name must not be empty");
    return;
  }
  if (!m.valid(value)) {
    m.fail("output '" + name + "' is invalid");
    return;
  }
  if (!m.output_names.insert(name).second) {
    m.fail("output '" + name + "' added twice");
    return;
  }
  NetworkOutput out;
  out.name = name;
  out.ref = m.ref(value);
  out.dtype = static_cast<TF_DataType>(m.type_of(value));
  out.has_shape = true;
  out.shape = shape;
  m.net.outputs.push_back(out);
}

qtf::Status ModelBuilder::build(tensorflow::SavedModel* saved_model, std::string* index_file,
                                std::string* data_file) const {
  const Impl& m = *impl_;
  QTF_RETURN_IF_ERROR(m.status);
  if (!m.scopes.empty()) return qtf::invalid_argument("function '" + m.scopes.back().name + "' was not ended");
  if (m.net.outputs.empty()) return qtf::invalid_argument("the model has no outputs");
  QTF_RETURN_IF_ERROR(assemble_saved_model(m.net, m.options, saved_model));
  // A wrapping model's checkpoint is the source's, copied by `save`.
  if (m.net.wrapped) {
    index_file->clear();
    data_file->clear();
    return qtf::Status::ok();
  }
  BundleWriter bundle;
  std::vector<std::string> names;
  for (const NetworkVariable& var : m.net.variables) {
    QTF_RETURN_IF_ERROR(bundle.add(variable_checkpoint_key(var.name), var.value));
    names.push_back(var.name);
  }
  QTF_RETURN_IF_ERROR(bundle.add("_CHECKPOINTABLE_OBJECT_GRAPH",
                                 TensorValue::string_values({}, {object_graph_bytes(names)})));
  return bundle.finish(index_file, data_file);
}

qtf::Status ModelBuilder::save(const std::string& dir) const {
  tensorflow::SavedModel model;
  std::string index_file, data_file;
  QTF_RETURN_IF_ERROR(build(&model, &index_file, &data_file));
  // Deterministic map order, so the same network gives the same bytes.
  std::string pb;
  {
    google::protobuf::io::StringOutputStream stream(&pb);
    google::protobuf::io::CodedOutputStream coded(&stream);
    coded.SetSerializationDeterministic(true);
    if (!model.SerializeToCodedStream(&coded)) return qtf::internal_error("cannot serialize the SavedModel");
  }
  if (impl_->net.wrapped) {
    QTF_RETURN_IF_ERROR(make_dirs(dir));
    QTF_RETURN_IF_ERROR(copy_checkpoint_and_assets(impl_->net.wrapped->dir, dir));
  } else {
    QTF_RETURN_IF_ERROR(make_dirs(dir + "/variables"));
    QTF_RETURN_IF_ERROR(write_file(dir + "/variables/variables.data-00000-of-00001", data_file));
    QTF_RETURN_IF_ERROR(write_file(dir + "/variables/variables.index", index_file));
  }
  return write_file(dir + "/saved_model.pb", pb);
}

}  // namespace qsm
