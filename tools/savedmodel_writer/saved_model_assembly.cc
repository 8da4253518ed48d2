// Turns a collected Network into the SavedModel proto TensorFlow 2 would
// export for it: outer graph, signature, save and restore functions.
#include <algorithm>
#include <map>

#include "exec/loader.h"
#include "network.h"
#include "object_graph.h"
#include "op_defs.h"
#include "wrapped_graph.h"

namespace qsm {

namespace {

using tensorflow::AttrValue;
using tensorflow::DataType;
using tensorflow::FunctionDef;
using tensorflow::NodeDef;

// Function numbers: TensorFlow takes them from a global counter; any fixed
// values keep the output reproducible.
constexpr int kSignatureWrapperId = 100;
constexpr int kSaveId = 200;
constexpr int kRestoreId = 300;

// The serialized ConfigProto TensorFlow 2 puts on its call ops.
const char kCallConfigProto[] =
    "\x82\x01\x00\x38\x01\x32\x02\x4a\x00\x0a\x07\x0a\x03\x43\x50\x55\x10\x01\x0a\x07\x0a\x03"
    "\x47\x50\x55\x10\x00";

DataType dt(TF_DataType t) { return static_cast<DataType>(t); }

void set_shape(const Shape& shape, tensorflow::TensorShapeProto* proto) {
  for (int64_t d : shape) proto->add_dim()->set_size(d);
}

NodeDef node(const std::string& name, const std::string& op, std::vector<std::string> inputs,
             const Attrs& attrs = {}) {
  NodeDef n;
  n.set_name(name);
  n.set_op(op);
  for (std::string& in : inputs) n.add_input(std::move(in));
  for (const auto& [key, value] : attrs) (*n.mutable_attr())[key] = value;
  return n;
}

AttrValue type_list(const std::vector<DataType>& list) {
  AttrValue v;
  v.mutable_list();
  for (DataType t : list) v.mutable_list()->add_type(t);
  return v;
}

AttrValue func(const std::string& name) {
  AttrValue v;
  v.mutable_func()->set_name(name);
  return v;
}

AttrValue scalar_string_const(const std::vector<std::string>& values, bool scalar) {
  return tensor(TensorValue::string_values(
      scalar ? Shape{} : Shape{static_cast<int64_t>(values.size())}, values));
}

// A StatefulPartitionedCall node of the outer graph.
NodeDef call_node(const std::string& name, const std::string& function,
                  const std::vector<std::string>& inputs, const std::vector<DataType>& tin,
                  const std::vector<DataType>& tout) {
  AttrValue read_only;
  read_only.mutable_list();
  AttrValue managers;
  managers.mutable_list();
  return node(name, "StatefulPartitionedCall", inputs,
              {{"Tin", type_list(tin)},
               {"Tout", type_list(tout)},
               {"f", func(function)},
               {"config_proto", str(std::string(kCallConfigProto, sizeof(kCallConfigProto) - 1))},
               {"_read_only_resource_inputs", read_only},
               {"_collective_manager_ids", managers}});
}

tensorflow::OpDef::ArgDef* add_arg(google::protobuf::RepeatedPtrField<tensorflow::OpDef::ArgDef>* args,
                                   const std::string& name, DataType type) {
  auto* arg = args->Add();
  arg->set_name(name);
  arg->set_type(type);
  return arg;
}

void add_resource_arg(FunctionDef* f, const std::string& name, const NetworkVariable& var) {
  auto* arg = add_arg(f->mutable_signature()->mutable_input_arg(), name, tensorflow::DT_RESOURCE);
  auto* handle = arg->add_handle_data();
  handle->set_dtype(dt(var.value.dtype));
  set_shape(var.value.shape, handle->mutable_shape());
}

void set_user_name(FunctionDef* f, int index, const std::string& name) {
  (*(*f->mutable_arg_attr())[static_cast<uint32_t>(index)].mutable_attr())["_user_specified_name"] =
      str(name);
}

std::vector<const NetworkInput*> sorted_inputs(const Network& net) {
  std::vector<const NetworkInput*> v;
  for (const auto& in : net.inputs) v.push_back(&in);
  std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->name < b->name; });
  return v;
}

std::vector<const NetworkOutput*> sorted_outputs(const Network& net) {
  std::vector<const NetworkOutput*> v;
  for (const auto& out : net.outputs) v.push_back(&out);
  std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->name < b->name; });
  return v;
}

// The network itself: inputs, then one resource argument per variable.
FunctionDef signature_function(const Network& net, const std::string& name) {
  FunctionDef f;
  auto* sig = f.mutable_signature();
  sig->set_name(name);
  int index = 0;
  for (const NetworkInput* in : sorted_inputs(net)) {
    add_arg(sig->mutable_input_arg(), in->arg_name, dt(in->dtype));
    set_user_name(&f, index++, in->name);
  }
  for (const NetworkCapture& c : net.captures) add_arg(sig->mutable_input_arg(), c.arg_name, dt(c.dtype));
  for (const NetworkVariable& var : net.variables) add_resource_arg(&f, var.arg_name, var);
  for (const NodeDef& n : net.body) *f.add_node_def() = n;
  std::set<std::string> names = net.body_names;
  for (const NetworkOutput* out : sorted_outputs(net)) {
    const std::string id = unique_name("Identity", &names);
    *f.add_node_def() = node(id, "Identity", {out->ref}, {{"T", type(out->dtype)}});
    std::string arg = argument_name(id);
    add_arg(sig->mutable_output_arg(), arg, dt(out->dtype));
    (*f.mutable_ret())[arg] = id + ":output:0";
  }
  bool stateful = false;
  for (const NodeDef& n : f.node_def()) {
    const tensorflow::OpDef* def = find_op_def(n.op());
    stateful = stateful || (def != nullptr && def->is_stateful());
  }
  sig->set_is_stateful(stateful);
  return f;
}

// A stateful function of the checkpoint's "file_prefix" string: the shape of
// both the save and the restore function.
FunctionDef checkpoint_function(const std::string& name) {
  FunctionDef f;
  auto* sig = f.mutable_signature();
  sig->set_name(name);
  sig->set_is_stateful(true);
  add_arg(sig->mutable_input_arg(), "file_prefix", tensorflow::DT_STRING);
  set_user_name(&f, 0, "file_prefix");
  return f;
}

std::vector<std::string> checkpoint_keys(const Network& net) {
  std::vector<std::string> keys;
  for (const NetworkVariable& var : net.variables) keys.push_back(variable_checkpoint_key(var.name));
  keys.push_back("_CHECKPOINTABLE_OBJECT_GRAPH");
  return keys;
}

// RestoreV2 of every variable (and the object graph, which is read but not
// assigned), one AssignVariableOp per variable, tied to the return value by
// control edges.
FunctionDef restore_function(const Network& net, const std::string& name) {
  FunctionDef f = checkpoint_function(name);
  auto* sig = f.mutable_signature();
  const std::vector<std::string> keys = checkpoint_keys(net);
  std::vector<DataType> dtypes;
  for (const NetworkVariable& var : net.variables) dtypes.push_back(dt(var.value.dtype));
  dtypes.push_back(tensorflow::DT_STRING);

  *f.add_node_def() = node("RestoreV2/tensor_names", "Const", {},
                           {{"dtype", type(TF_STRING)}, {"value", scalar_string_const(keys, false)}});
  *f.add_node_def() = node("RestoreV2/shape_and_slices", "Const", {},
                           {{"dtype", type(TF_STRING)},
                            {"value", scalar_string_const(std::vector<std::string>(keys.size()), false)}});
  *f.add_node_def() = node("RestoreV2", "RestoreV2",
                           {"file_prefix", "RestoreV2/tensor_names:output:0",
                            "RestoreV2/shape_and_slices:output:0"},
                           {{"dtypes", type_list(dtypes)}});
  std::vector<std::string> assigns;
  std::set<std::string> arg_names{"file_prefix"};
  for (size_t j = 0; j < net.variables.size(); ++j) {
    const NetworkVariable& var = net.variables[j];
    const std::string suffix = j == 0 ? "" : "_" + std::to_string(j);
    const std::string arg =
        unique_name("assignvariableop" + suffix + "_" + argument_name(var.name), &arg_names);
    add_resource_arg(&f, arg, var);
    set_user_name(&f, static_cast<int>(j) + 1, var.name);
    const std::string identity = "Identity" + suffix;
    const std::string assign = "AssignVariableOp" + suffix;
    *f.add_node_def() = node(identity, "Identity", {"RestoreV2:tensors:" + std::to_string(j)},
                             {{"T", type(var.value.dtype)}});
    *f.add_node_def() = node(assign, "AssignVariableOp", {arg, identity + ":output:0"},
                             {{"dtype", type(var.value.dtype)}});
    assigns.push_back(assign);
  }
  const size_t n = net.variables.size();
  const std::string last = "Identity_" + std::to_string(n);
  const std::string ret = "Identity_" + std::to_string(n + 1);
  *f.add_node_def() = node("NoOp", "NoOp", {});
  std::vector<std::string> last_inputs{"file_prefix"};
  for (const std::string& a : assigns) last_inputs.push_back("^" + a);
  last_inputs.push_back("^NoOp");
  *f.add_node_def() = node(n == 0 ? "Identity" : last, "Identity", last_inputs,
                           {{"T", type(TF_STRING)}});
  std::vector<std::string> noop_inputs;
  for (const std::string& a : assigns) noop_inputs.push_back("^" + a);
  *f.add_node_def() = node("NoOp_1", "NoOp", noop_inputs);
  *f.add_node_def() = node(ret, "Identity", {(n == 0 ? "Identity" : last) + ":output:0", "^NoOp_1"},
                           {{"T", type(TF_STRING)}});
  add_arg(sig->mutable_output_arg(), argument_name(ret), tensorflow::DT_STRING);
  (*f.mutable_ret())[argument_name(ret)] = ret + ":output:0";
  for (const std::string& a : assigns) {
    sig->add_control_output(a);
    (*f.mutable_control_ret())[a] = a;
  }
  return f;
}

// SaveV2 of every variable's current value and the object graph straight to
// the given prefix (one shard), returning the prefix once written.
FunctionDef save_function(const Network& net, const std::string& name) {
  FunctionDef f = checkpoint_function(name);
  auto* sig = f.mutable_signature();
  const std::vector<std::string> keys = checkpoint_keys(net);
  std::vector<DataType> dtypes;
  std::vector<std::string> save_inputs{"file_prefix", "SaveV2/tensor_names:output:0",
                                       "SaveV2/shape_and_slices:output:0"};
  std::set<std::string> arg_names{"file_prefix", "savev2_const"};
  for (size_t j = 0; j < net.variables.size(); ++j) {
    const NetworkVariable& var = net.variables[j];
    const std::string suffix = j == 0 ? "" : "_" + std::to_string(j);
    const std::string arg = unique_name("read" + suffix + "_readvariableop_" + argument_name(var.name),
                                        &arg_names);
    add_resource_arg(&f, arg, var);
    set_user_name(&f, static_cast<int>(j) + 1, var.name);
    const std::string read = "Read" + suffix + "/ReadVariableOp";
    *f.add_node_def() = node(read, "ReadVariableOp", {arg}, {{"dtype", type(var.value.dtype)}});
    save_inputs.push_back(read + ":value:0");
    dtypes.push_back(dt(var.value.dtype));
  }
  add_arg(sig->mutable_input_arg(), "savev2_const", tensorflow::DT_STRING);
  save_inputs.push_back("savev2_const");
  dtypes.push_back(tensorflow::DT_STRING);
  *f.add_node_def() = node("SaveV2/tensor_names", "Const", {},
                           {{"dtype", type(TF_STRING)}, {"value", scalar_string_const(keys, false)}});
  *f.add_node_def() = node("SaveV2/shape_and_slices", "Const", {},
                           {{"dtype", type(TF_STRING)},
                            {"value", scalar_string_const(std::vector<std::string>(keys.size()), false)}});
  *f.add_node_def() = node("SaveV2", "SaveV2", save_inputs, {{"dtypes", type_list(dtypes)}});
  *f.add_node_def() = node("Identity", "Identity", {"file_prefix", "^SaveV2"}, {{"T", type(TF_STRING)}});
  add_arg(sig->mutable_output_arg(), "identity", tensorflow::DT_STRING);
  (*f.mutable_ret())["identity"] = "Identity:output:0";
  sig->add_control_output("SaveV2");
  (*f.mutable_control_ret())["SaveV2"] = "SaveV2";
  return f;
}

tensorflow::TensorInfo tensor_info(const std::string& name, TF_DataType dtype, bool has_shape,
                                   const Shape& shape) {
  tensorflow::TensorInfo info;
  info.set_name(name);
  if (dtype != 0) info.set_dtype(dt(dtype));
  if (has_shape) set_shape(shape, info.mutable_tensor_shape());
  else info.mutable_tensor_shape()->set_unknown_rank(true);
  return info;
}

// `base`, or `base_1`, `base_2`... whichever no function of `library` has.
std::string unique_function_name(const std::string& base, const tensorflow::FunctionDefLibrary& library) {
  std::set<std::string> used;
  for (const FunctionDef& f : library.function()) used.insert(f.signature().name());
  return unique_name(base, &used);
}

// The writer's own checkpoint machinery: a VarHandleOp per variable, the
// object-graph Const, saver_filename, the save and restore calls and their
// functions, and the saver that names them.
void add_checkpoint_machinery(const Network& net, const WriterOptions& options,
                              tensorflow::MetaGraphDef* meta) {
  tensorflow::GraphDef* graph = meta->mutable_graph_def();
  const std::string save = "__inference__traced_save_" + std::to_string(kSaveId);
  const std::string restore = "__inference__traced_restore_" + std::to_string(kRestoreId);
  std::vector<std::string> handles, var_names;
  for (const NetworkVariable& var : net.variables) {
    handles.push_back(var.name);
    var_names.push_back(var.name);
  }
  NodeDef object_graph = node("Const", "Const", {},
                              {{"dtype", type(TF_STRING)},
                               {"value", scalar_string_const({object_graph_bytes(var_names)}, true)}});
  object_graph.set_device("/device:CPU:0");
  *graph->add_node() = object_graph;
  *graph->add_node() = node("saver_filename", "Placeholder", {},
                            {{"dtype", type(TF_STRING)}, {"shape", shape({})}});
  std::vector<std::string> restore_inputs{"saver_filename"};
  std::vector<DataType> restore_tin{tensorflow::DT_STRING};
  for (const std::string& h : handles) {
    restore_inputs.push_back(h);
    restore_tin.push_back(tensorflow::DT_RESOURCE);
  }
  if (options.include_save) {
    std::vector<std::string> save_inputs = restore_inputs;
    std::vector<DataType> save_tin = restore_tin;
    save_inputs.push_back("Const");
    save_tin.push_back(tensorflow::DT_STRING);
    *graph->add_node() = call_node("StatefulPartitionedCall_1", save, save_inputs, save_tin,
                                   {tensorflow::DT_STRING});
  }
  *graph->add_node() = call_node("StatefulPartitionedCall_2", restore, restore_inputs, restore_tin,
                                 {tensorflow::DT_STRING});
  auto* library = graph->mutable_library();
  if (options.include_save) *library->add_function() = save_function(net, save);
  *library->add_function() = restore_function(net, restore);

  auto* saver = meta->mutable_saver_def();
  saver->set_filename_tensor_name("saver_filename:0");
  if (options.include_save) saver->set_save_tensor_name("StatefulPartitionedCall_1:0");
  saver->set_restore_op_name("StatefulPartitionedCall_2");
  saver->set_version(tensorflow::SaverDef::V2);
}

}  // namespace

qtf::Status assemble_saved_model(const Network& net, const WriterOptions& options,
                                 tensorflow::SavedModel* saved_model) {
  saved_model->Clear();
  saved_model->set_saved_model_schema_version(1);
  tensorflow::MetaGraphDef* meta = saved_model->add_meta_graphs();
  tensorflow::GraphDef* graph = meta->mutable_graph_def();
  auto* library = graph->mutable_library();
  const tensorflow::MetaGraphDef* source = net.wrapped ? &net.wrapped->meta : nullptr;
  if (source != nullptr) {
    *graph->mutable_versions() = source->graph_def().versions();
    *library = source->graph_def().library();
  } else {
    graph->mutable_versions()->set_producer(options.graph_producer);
    graph->mutable_versions()->set_min_consumer(12);
  }
  const std::string wrapper = unique_function_name(
      "__inference_signature_wrapper_" + std::to_string(kSignatureWrapperId), *library);

  // The outer nodes this model adds itself; a wrapped source's nodes of the
  // same names give way.
  std::set<std::string> own{"StatefulPartitionedCall"};
  for (const NetworkInput& in : net.inputs) own.insert(in.op_name);
  CarriedGraph carried;
  if (source != nullptr) {
    if (qtf::init_op_name(*source).empty()) own.insert("NoOp");
    carried = carry_graph(*source, own);
    for (const NodeDef& n : carried.outer_nodes) *graph->add_node() = n;
  }
  const int carried_nodes = graph->node_size();

  std::vector<std::string> handles;
  for (const NetworkVariable& var : net.variables) {
    *graph->add_node() = node(var.name, "VarHandleOp", {},
                              {{"dtype", type(var.value.dtype)},
                               {"shape", shape(var.value.shape)},
                               {"shared_name", str(var.name)}});
    *graph->add_node() = node(var.name + "/Read/ReadVariableOp", "ReadVariableOp", {var.name},
                              {{"dtype", type(var.value.dtype)}});
    handles.push_back(var.name);
  }
  std::vector<std::string> call_inputs;
  std::vector<DataType> tin, tout;
  for (const NetworkInput* in : sorted_inputs(net)) {
    *graph->add_node() = node(in->op_name, "Placeholder", {},
                              {{"dtype", type(in->dtype)}, {"shape", shape(in->shape)}});
    call_inputs.push_back(in->op_name);
    tin.push_back(dt(in->dtype));
  }
  for (const NetworkCapture& c : net.captures) {
    call_inputs.push_back(carried.rename(c.source_tensor));
    tin.push_back(dt(c.dtype));
  }
  AttrValue read_only;
  read_only.mutable_list();
  for (const std::string& h : handles) {
    read_only.mutable_list()->add_i(static_cast<int64_t>(call_inputs.size()));
    call_inputs.push_back(h);
    tin.push_back(tensorflow::DT_RESOURCE);
  }
  for (const NetworkOutput* out : sorted_outputs(net)) tout.push_back(dt(out->dtype));
  NodeDef serving = call_node("StatefulPartitionedCall", wrapper, call_inputs, tin, tout);
  (*serving.mutable_attr())["_read_only_resource_inputs"] = read_only;
  *graph->add_node() = serving;
  const std::string init_op = source != nullptr && !carried.init_op.empty() ? carried.init_op : "NoOp";
  if (source == nullptr || carried.init_op.empty()) *graph->add_node() = node("NoOp", "NoOp", {});

  *library->add_function() = signature_function(net, wrapper);
  if (source == nullptr) {
    add_checkpoint_machinery(net, options, meta);
  } else if (carried.has_saver) {
    *meta->mutable_saver_def() = carried.saver;
  }
  // The network's own library functions (branches, loop bodies).
  for (const FunctionDef& f : net.functions) {
    for (const FunctionDef& existing : library->function()) {
      if (existing.signature().name() == f.signature().name()) {
        return qtf::invalid_argument("function name '" + f.signature().name() + "' is already taken");
      }
    }
    *library->add_function() = f;
  }

  // Every node name of the outer graph must be unique (a variable could be
  // named like one of the fixed nodes).
  std::set<std::string> outer;
  for (const NodeDef& n : graph->node()) {
    if (!outer.insert(n.name()).second) {
      return qtf::invalid_argument("graph node name '" + n.name() +
                                   "' is used twice (rename the variable or input)");
    }
  }

  // Strip default attrs of the nodes written here and collect the op
  // definitions used. A wrapped source's nodes and functions stay as stored,
  // and its stored definitions come first: they are what its nodes were
  // stripped against.
  std::map<std::string, const tensorflow::OpDef*> used;
  if (source != nullptr) {
    for (const auto& def : source->meta_info_def().stripped_op_list().op()) used[def.name()] = &def;
  }
  auto visit = [&used](NodeDef* n) -> qtf::Status {
    const auto known = used.find(n->op());
    const tensorflow::OpDef* def = known != used.end() ? known->second : find_op_def(n->op());
    if (def == nullptr) return qtf::invalid_argument("no op definition for '" + n->op() + "'");
    strip_default_attrs(*def, n->mutable_attr());
    used[n->op()] = def;
    return qtf::Status::ok();
  };
  for (int i = carried_nodes; i < graph->node_size(); ++i) QTF_RETURN_IF_ERROR(visit(graph->mutable_node(i)));
  const int own_functions_from = source != nullptr ? source->graph_def().library().function_size() : 0;
  for (int i = own_functions_from; i < library->function_size(); ++i) {
    for (NodeDef& n : *library->mutable_function(i)->mutable_node_def()) QTF_RETURN_IF_ERROR(visit(&n));
  }

  auto* info = meta->mutable_meta_info_def();
  for (const auto& entry : used) *info->mutable_stripped_op_list()->add_op() = *entry.second;
  info->add_tags("serve");
  info->set_tensorflow_version(options.tensorflow_version);
  info->set_tensorflow_git_version("quarrow savedmodel writer");
  info->set_stripped_default_attrs(true);
  for (const auto& asset : carried.assets) *meta->add_asset_file_def() = asset;

  tensorflow::SignatureDef& sig = (*meta->mutable_signature_def())[options.signature_key];
  for (const NetworkInput& in : net.inputs) {
    (*sig.mutable_inputs())[in.name] = tensor_info(in.op_name + ":0", in.dtype, true, in.shape);
  }
  int k = 0;
  for (const NetworkOutput* out : sorted_outputs(net)) {
    (*sig.mutable_outputs())[out->name] = tensor_info(
        "StatefulPartitionedCall:" + std::to_string(k++), out->dtype, out->has_shape, out->shape);
  }
  sig.set_method_name("tensorflow/serving/predict");
  tensorflow::SignatureDef& init = (*meta->mutable_signature_def())["__saved_model_init_op"];
  (*init.mutable_outputs())["__saved_model_init_op"] =
      tensor_info(init_op, static_cast<TF_DataType>(0), false, {});
  return qtf::Status::ok();
}

}  // namespace qsm
