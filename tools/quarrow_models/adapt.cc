// `quarrow-models adapt`: writes a SavedModel that meets a role's contract by
// wrapping a source model that almost does. The source's function library,
// outer graph, checkpoint and restore are carried over as they are, and a new
// serving function feeds the source's serving function (called, not traced
// again) and turns its output into the role's: input layout, input name,
// output name, scores and output layout.
#include <cstring>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "exec/loader.h"
#include "loaded_model.h"

namespace quarrow::models {

namespace {

constexpr char kServing[] = "serving_default";

bool is_call_op(const std::string& op) { return op == "StatefulPartitionedCall" || op == "PartitionedCall"; }

std::string tensor_key(const std::string& name) {
  std::string op;
  int index = 0;
  quarrow::split_tensor_name(name, &op, &index);
  return op + ":" + std::to_string(index);
}

std::string type_text(tensorflow::DataType t) {
  return tensorflow::DataType_IsValid(t) ? tensorflow::DataType_Name(t).substr(3) : std::to_string(static_cast<int>(t));
}

std::vector<int64_t> shape_dims(const tensorflow::TensorShapeProto& shape) {
  std::vector<int64_t> dims;
  for (const auto& d : shape.dim()) dims.push_back(d.size());
  return dims;
}

std::string keys_text(const google::protobuf::Map<std::string, tensorflow::TensorInfo>& map) {
  std::set<std::string> keys;
  for (const auto& kv : map) keys.insert(kv.first);
  std::string out;
  for (const std::string& k : keys) out += (out.empty() ? "" : ", ") + k;
  return out;
}

const tensorflow::NodeDef* outer_node(const tensorflow::GraphDef& graph, const std::string& name) {
  for (const auto& n : graph.node()) {
    if (n.name() == name) return &n;
  }
  return nullptr;
}

// The call op producing `tensor`, looking through Identity nodes of the
// outer graph; `index` receives the call's output index.
bool find_source_call(const tensorflow::GraphDef& graph, const std::string& tensor, const std::string& key,
                      const tensorflow::NodeDef** call, int* index, std::string* error) {
  std::string name = tensor;
  for (int hops = 0; hops <= graph.node_size(); ++hops) {
    std::string op;
    quarrow::split_tensor_name(name, &op, index);
    const tensorflow::NodeDef* node = outer_node(graph, op);
    if (node == nullptr) {
      *error = "output '" + key + "' names " + name + ", which is not in the graph";
      return false;
    }
    const auto f = node->attr().find("f");
    if (is_call_op(node->op()) && f != node->attr().end() && f->second.has_func()) {
      *call = node;
      return true;
    }
    if (node->op() != "Identity" || node->input_size() < 1) {
      *error = "output '" + key + "' comes from the " + node->op() + " node '" + node->name() +
               "' of the outer graph, not from a function call; adapt wraps TensorFlow 2 exports";
      return false;
    }
    name = node->input(0);
  }
  *error = "output '" + key + "': the graph has a cycle of Identity nodes";
  return false;
}

// The output's shape from running the source on a zero image, for when the
// signature leaves it open.
bool real_output_shape(const std::string& dir, const std::string& input, Layout layout, const std::string& output,
                       std::vector<int64_t>* shape, std::string* error) {
  quarrow::LoadedModel model;
  TF_Output in, out;
  if (!model.load(dir, "", error) || !model.find_output(input, &in, error) ||
      !model.find_output(output, &out, error)) {
    return false;
  }
  std::vector<int64_t> dims = network_input_shape();
  if (layout == Layout::kNchw) dims = {dims[0], dims[3], dims[1], dims[2]};
  size_t count = 1;
  for (int64_t d : dims) count *= static_cast<size_t>(d);
  TF_Tensor* x = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), count * sizeof(float));
  std::memset(TF_TensorData(x), 0, count * sizeof(float));
  std::vector<TF_Tensor*> results;
  const bool ran = model.run({in}, {x}, {out}, &results, error);
  TF_DeleteTensor(x);
  if (!ran) return false;
  shape->clear();
  for (int k = 0; k < TF_NumDims(results[0]); ++k) shape->push_back(TF_Dim(results[0], k));
  TF_DeleteTensor(results[0]);
  return true;
}

bool destination_is_free(const std::string& dir, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return true;
  if (fs::is_directory(dir, ec) && fs::is_empty(dir, ec)) return true;
  *error = dir + " already exists; adapt writes a new folder";
  return false;
}

struct Adapted {
  std::string description;
};

// Everything up to the written model; false with a one-line reason.
bool write_adapted(const AdaptRequest& r, Adapted* done, std::string* error) {
  const ModelRole& role = *r.role;
  if (!destination_is_free(r.destination, error)) return false;
  tensorflow::SavedModel model;
  int chosen = -1;
  qtf::Status s = qtf::read_saved_model(r.source, &model);
  if (s.is_ok()) s = qtf::find_meta_graph(model, {"serve"}, r.source, &chosen);
  if (!s.is_ok()) {
    *error = s.message();
    return false;
  }
  const tensorflow::MetaGraphDef& meta = model.meta_graphs(chosen);
  const auto sig_it = meta.signature_def().find(kServing);
  if (sig_it == meta.signature_def().end()) {
    *error = r.source + " has no serving_default signature";
    return false;
  }
  const tensorflow::SignatureDef& sig = sig_it->second;

  if (sig.inputs_size() != 1) {
    *error = "serving_default takes " + std::to_string(sig.inputs_size()) + " inputs (" + keys_text(sig.inputs()) +
             "); quarrow feeds one image";
    return false;
  }
  const auto& [input_key, input] = *sig.inputs().begin();
  if (input.dtype() != tensorflow::DT_FLOAT) {
    *error = "input '" + input_key + "' is " + type_text(input.dtype()) + "; quarrow feeds float32 images";
    return false;
  }
  Layout layout = Layout::kNhwc;
  const bool input_rank = input.has_tensor_shape() && !input.tensor_shape().unknown_rank();
  if (!choose_input_layout(shape_dims(input.tensor_shape()), input_rank, r.input_layout, &layout, error)) return false;

  std::string output_key = r.output;
  if (output_key.empty()) {
    if (sig.outputs_size() != 1) {
      *error = "serving_default has " + std::to_string(sig.outputs_size()) + " outputs (" + keys_text(sig.outputs()) +
               "); choose one with --output";
      return false;
    }
    output_key = sig.outputs().begin()->first;
  }
  const auto out_it = sig.outputs().find(output_key);
  if (out_it == sig.outputs().end()) {
    *error = "serving_default has no output '" + output_key + "' (outputs: " + keys_text(sig.outputs()) + ")";
    return false;
  }
  const tensorflow::TensorInfo& output = out_it->second;

  const tensorflow::NodeDef* call = nullptr;
  int index = 0;
  if (!find_source_call(meta.graph_def(), output.name(), output_key, &call, &index, error)) return false;
  const auto& tin = call->attr().at("Tin").list().type();
  const auto& tout = call->attr().at("Tout").list().type();
  if (index < 0 || index >= tout.size()) {
    *error = "output '" + output_key + "' is output " + std::to_string(index) + " of '" + call->name() +
             "', which has " + std::to_string(tout.size());
    return false;
  }
  const auto out_type = static_cast<tensorflow::DataType>(tout[index]);
  if (out_type != tensorflow::DT_FLOAT && out_type != tensorflow::DT_HALF && out_type != tensorflow::DT_DOUBLE &&
      out_type != tensorflow::DT_BFLOAT16) {
    *error = "output '" + output_key + "' is " + type_text(out_type) + ", not a floating-point map";
    return false;
  }

  OutputPlan plan;
  const bool output_rank = output.has_tensor_shape() && !output.tensor_shape().unknown_rank();
  if (!plan_output(role, shape_dims(output.tensor_shape()), output_rank, r.score, &plan, error)) return false;
  if (plan.needs_real_shape) {
    std::vector<int64_t> real;
    std::string why;
    if (!real_output_shape(r.source, input.name(), layout, output.name(), &real, &why)) {
      *error = "the signature leaves the shape of output '" + output_key +
               "' open and the source does not run here to tell it: " + why;
      return false;
    }
    if (!plan_output(role, real, true, r.score, &plan, error)) return false;
  }

  qsm::ModelBuilder b;
  b.wrap(meta, r.source);
  const std::string prefix = std::string(kServing) + "_";
  qsm::Output x = b.input(role.input_op.substr(prefix.size()), TF_FLOAT, network_input_shape());
  if (layout == Layout::kNchw) x = b.op("Transpose", {x, b.constant_ints({0, 3, 1, 2})}, {}, "adapt/input_to_nchw");
  std::vector<qsm::Output> args;
  int k = 0, fed = 0;
  for (const std::string& in : call->input()) {
    if (!in.empty() && in[0] == '^') continue;
    if (k >= tin.size()) break;
    if (tensor_key(in) == tensor_key(input.name())) {
      args.push_back(x);
      ++fed;
    } else {
      args.push_back(b.capture(in, static_cast<TF_DataType>(tin[k])));
    }
    ++k;
  }
  if (fed == 0) {
    *error = "'" + call->name() + "', which computes output '" + output_key + "', does not take input '" +
             input_key + "' directly";
    return false;
  }
  qsm::Attrs attrs;
  for (const auto& [name, value] : call->attr()) {
    if (name != "Tin") attrs.emplace_back(name, value);
  }
  qsm::Output y = b.op(call->op(), args, attrs, "source_call").at(index);
  if (out_type != tensorflow::DT_FLOAT) y = b.op("Cast", {y}, {{"DstT", qsm::type(TF_FLOAT)}}, "adapt/to_float");
  b.output("output_0", build_output(b, y, role, plan), role.output_shape);
  s = b.save(r.destination);
  if (!s.is_ok()) {
    *error = "cannot write " + r.destination + ": " + s.message();
    return false;
  }
  done->description = std::string("input ") + (layout == Layout::kNchw ? "NCHW (transposed)" : "NHWC") +
                      ", output '" + output_key + "' " + plan.description;
  return true;
}

}  // namespace

int adapt_command(const AdaptRequest& request, std::ostream& out, std::ostream& err) {
  Adapted done;
  std::string error;
  if (!write_adapted(request, &done, &error)) {
    err << "quarrow-models: adapt: " << error << "\n";
    return 1;
  }
  out << request.destination << ": " << request.role->name << " model wrapping " << request.source << "; "
      << done.description << "\n";
  std::string detail;
  const std::string problem = check_model(request.destination, *request.role, &detail);
  if (!problem.empty()) {
    err << "quarrow-models: adapt: " << request.destination << " was written but does not meet the "
        << request.role->name << " contract: " << problem << "\n";
    return 1;
  }
  out << request.destination << ": meets the " << request.role->name << " contract (" << detail << ")\n";
  return 0;
}

}  // namespace quarrow::models
