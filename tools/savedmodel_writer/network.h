// The network a ModelBuilder has collected, in the form the SavedModel
// assembly turns into graph, functions and signature. Internal to the writer.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/status.h"
#include "graph.pb.h"
#include "saved_model.pb.h"
#include "savedmodel_writer.h"

namespace qsm {

struct NetworkInput {
  std::string name;      // signature input key
  std::string op_name;   // outer Placeholder, e.g. "serving_default_input"
  std::string arg_name;  // argument of the signature function
  TF_DataType dtype = TF_FLOAT;
  Shape shape;
};

struct NetworkVariable {
  std::string name;      // VarHandleOp name and shared_name
  std::string arg_name;  // DT_RESOURCE argument of the signature function
  TensorValue value;
};

struct NetworkOutput {
  std::string name;  // signature output key
  std::string ref;   // "node:out_arg:i" or an argument name, inside the body
  TF_DataType dtype = TF_FLOAT;
  bool has_shape = false;
  Shape shape;
};

// A tensor of the wrapped model's outer graph passed into the network.
struct NetworkCapture {
  std::string source_tensor;  // "node:index", source names
  std::string arg_name;       // argument of the signature function
  TF_DataType dtype = TF_FLOAT;
};

// The SavedModel a network wraps (ModelBuilder::wrap).
struct WrappedModel {
  tensorflow::MetaGraphDef meta;
  std::string dir;
};

struct Network {
  std::vector<NetworkInput> inputs;
  std::vector<NetworkVariable> variables;
  std::vector<NetworkCapture> captures;
  std::shared_ptr<const WrappedModel> wrapped;  // null unless wrapping
  std::vector<tensorflow::NodeDef> body;  // the signature function's nodes
  std::vector<NetworkOutput> outputs;
  std::set<std::string> body_names;       // node names used in `body`
  std::vector<tensorflow::FunctionDef> functions;  // further library functions
};

// Builds the whole SavedModel proto around `network`.
qtf::Status assemble_saved_model(const Network& network, const WriterOptions& options,
                                 tensorflow::SavedModel* saved_model);

// Name helpers shared by the builder and the assembly.
// Lower-case [a-z0-9_] name starting with a letter, as function arguments need.
std::string argument_name(const std::string& text);
// `base`, or `base_1`, `base_2`... whichever is not in `used`; the result is added to `used`.
std::string unique_name(const std::string& base, std::set<std::string>* used);
// True for a valid graph node name ([A-Za-z0-9.][A-Za-z0-9_.\-/>]*).
bool valid_node_name(const std::string& name);

}  // namespace qsm
