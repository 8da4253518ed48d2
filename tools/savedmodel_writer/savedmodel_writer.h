// SavedModel writer: builds a small network in code and writes it as a
// TensorFlow 2 SavedModel folder (saved_model.pb + variables/ checkpoint), laid
// out the way `tf.saved_model.save` lays it out, so the built-in runtime and a
// real TensorFlow both load it.
//
// Usage:
//
//   qsm::ModelBuilder b;
//   qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});   // op "serving_default_input"
//   qsm::Output w = b.variable("conv/kernel", qsm::TensorValue::floats({3, 3, 3, 8}, weights));
//   qsm::Output y = b.op("Conv2D", {x, w},
//                        {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}});
//   y = b.op("Relu", {y});
//   b.output("output_0", y);                                      // "StatefulPartitionedCall:0"
//   qtf::Status s = b.save("/tmp/model");
//
// What gets written (names as TensorFlow 2 writes them):
//   * one MetaGraphDef tagged "serve" with stripped_op_list and stripped default attrs;
//   * graph: one VarHandleOp per variable (shared_name = variable name), one
//     Placeholder `serving_default_<input>` per input, `StatefulPartitionedCall`
//     calling `__inference_signature_wrapper_<N>` (the network, reading variables
//     through DT_RESOURCE arguments), `saver_filename`, the save call
//     `StatefulPartitionedCall_1` (SaveV2), the restore call
//     `StatefulPartitionedCall_2` (RestoreV2 + AssignVariableOp) and the init op `NoOp`;
//   * signature `serving_default` (outputs ordered by name, as TensorFlow
//     flattens a dict) and `__saved_model_init_op`; saver_def V2;
//   * variables/variables.index + variables.data-00000-of-00001 with keys
//     `<variable name>/.ATTRIBUTES/VARIABLE_VALUE` and `_CHECKPOINTABLE_OBJECT_GRAPH`.
//
// Library functions (the branches of If/Case, the cond and body of While) are
// built the same way between `begin_function` and `end_function`:
//
//   std::vector<qsm::Output> a = b.begin_function("cond_true_10", {{"x", TF_FLOAT}});
//   qsm::Output y = b.op("Neg", {a[0]});
//   tensorflow::AttrValue then_fn = b.end_function({{"cond/Identity", y}});
//   b.op("StatelessIf", {pred, x}, {{"then_branch", then_fn}, {"else_branch", else_fn}});
//
// A function sees only its own arguments and nodes (pass outer values in as
// arguments, as TensorFlow does). Each result becomes an Identity node named
// after it, whose output arg is the name in lower case ("cond_identity"); a
// result that is an argument is returned as it is; a stateful op without
// outputs (Assert) becomes a control result. A missing `Tout` of a node
// calling such a function is taken from the function's results.
//
// Errors: builder calls never throw. The first problem (unknown op, an input of
// the wrong type, a duplicate name...) is remembered, later calls return an
// invalid Output, and `save`/`build` return that error.
//
// Type attributes are inferred: for every attr of the op's definition that
// gives the type of an input (`T`, `Tidx`, `dtype` of ReadVariableOp...) and is
// not given explicitly, the writer takes the type of the connected input; a
// `number_attr` (e.g. ConcatV2's `N`) is set from the number of inputs. Attrs
// equal to the op definition's default are removed, as TensorFlow does.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/status.h"
#include "graph.pb.h"
#include "saved_model.pb.h"
#include "tensorflow/c/c_api.h"

namespace qsm {

using Shape = std::vector<int64_t>;

// A constant value: dtype, shape and the elements in C order. Numeric and bool
// elements are stored as little-endian bytes; strings one std::string each.
struct TensorValue {
  TF_DataType dtype = TF_FLOAT;
  Shape shape;
  std::string bytes;                 // numeric/bool elements
  std::vector<std::string> strings;  // TF_STRING elements

  static TensorValue floats(Shape shape, const std::vector<float>& values);
  static TensorValue doubles(Shape shape, const std::vector<double>& values);
  static TensorValue int32s(Shape shape, const std::vector<int32_t>& values);
  static TensorValue int64s(Shape shape, const std::vector<int64_t>& values);
  static TensorValue uint8s(Shape shape, const std::vector<uint8_t>& values);
  static TensorValue bools(Shape shape, const std::vector<bool>& values);
  static TensorValue string_values(Shape shape, std::vector<std::string> values);
  static TensorValue scalar(float value) { return floats({}, {value}); }

  int64_t num_elements() const;
  // Checks that the element data matches dtype and shape.
  qtf::Status validate() const;
  // TensorProto as TensorFlow writes Consts: tensor_content for numeric
  // tensors with more than one element, the typed *_val field otherwise.
  tensorflow::TensorProto to_proto() const;
};

// Attribute value helpers for `ModelBuilder::op`.
tensorflow::AttrValue integer(int64_t v);
tensorflow::AttrValue real(float v);
tensorflow::AttrValue boolean(bool v);
tensorflow::AttrValue type(TF_DataType v);
tensorflow::AttrValue str(const std::string& v);
tensorflow::AttrValue ints(const std::vector<int64_t>& v);
tensorflow::AttrValue floats(const std::vector<float>& v);
tensorflow::AttrValue types(const std::vector<TF_DataType>& v);
tensorflow::AttrValue shape(const Shape& v);  // -1 = unknown dimension
tensorflow::AttrValue tensor(const TensorValue& v);

using Attrs = std::vector<std::pair<std::string, tensorflow::AttrValue>>;

struct FunctionArg {
  std::string name;
  TF_DataType dtype = TF_FLOAT;
};

// One output of a node of the network being built. `node < 0` means invalid
// (an earlier call failed).
struct Output {
  int node = -1;
  int index = 0;
  bool valid() const { return node >= 0; }
  // Output k of the same node (e.g. Split's outputs).
  Output at(int k) const { return Output{node, k}; }
};

// Knobs that tests and tools rarely change.
struct WriterOptions {
  std::string signature_key = "serving_default";
  std::string tensorflow_version = "2.14.0";
  int graph_producer = 1569;  // GraphDef versions.producer of TensorFlow 2.14
  // The save function needs SaveV2; leave it out for runtimes that would not
  // even accept it in an unreachable function.
  bool include_save = true;
};

class ModelBuilder {
 public:
  explicit ModelBuilder(WriterOptions options = WriterOptions());
  ~ModelBuilder();
  ModelBuilder(const ModelBuilder&) = delete;
  ModelBuilder& operator=(const ModelBuilder&) = delete;

  // A signature input. Its graph op is "<signature_key>_<name>" (invalid
  // characters replaced by '_'); -1 marks an unknown dimension.
  Output input(const std::string& name, TF_DataType dtype, const Shape& shape);

  // A resource variable holding `value`, restored from the checkpoint at load.
  // The returned Output is the variable's current value (a ReadVariableOp in
  // the network). `name` may contain '/' ("conv1/kernel").
  Output variable(const std::string& name, TensorValue value);
  Output variable(const std::string& name, const Shape& shape, const std::vector<float>& values) {
    return variable(name, TensorValue::floats(shape, values));
  }

  // Wraps an existing SavedModel: its function library and outer graph
  // (variables, restore and init machinery), its saver, init op and assets
  // are carried over unchanged, and `save` copies its variables/ and assets/
  // folders from `source_dir`. The network built here calls into it (a call
  // op whose `f` names a library function) and reaches its outer tensors
  // through `capture`. Outer nodes whose names the new model needs are
  // renamed "source/<name>". Call first; a wrapping model has no variables of
  // its own, and the new signature replaces the source's signatures.
  void wrap(const tensorflow::MetaGraphDef& source, const std::string& source_dir);

  // A tensor of the wrapped model's outer graph ("node:index" as the source
  // names it, e.g. a VarHandleOp), passed into the network as an argument of
  // type `dtype`.
  Output capture(const std::string& source_tensor, TF_DataType dtype);

  // A Const node in the network.
  Output constant(TensorValue value, const std::string& name = "");
  Output constant(float value) { return constant(TensorValue::scalar(value)); }
  Output constant_ints(const std::vector<int32_t>& values) {
    return constant(TensorValue::int32s({static_cast<int64_t>(values.size())}, values));
  }

  // A node running the registered op `op` on `inputs` (in the order of the op
  // definition's input args; list args take consecutive inputs). Returns its
  // output 0; use `.at(k)` for the others. `name` defaults to the op name,
  // made unique with "_1", "_2"...
  Output op(const std::string& op, const std::vector<Output>& inputs, const Attrs& attrs = {},
            const std::string& name = "");

  // Starts the library function `name`; returns its arguments. Ops added
  // until `end_function` form its body. Functions may be built inside one
  // another's construction.
  std::vector<Output> begin_function(const std::string& name, const std::vector<FunctionArg>& args);
  // Finishes the innermost open function with `results` (name, value) and
  // returns the func attr that calls it. `attrs` go on the FunctionDef.
  tensorflow::AttrValue end_function(const std::vector<std::pair<std::string, Output>>& results,
                                     const Attrs& attrs = {});

  // A signature output. The shape is recorded in the SignatureDef; without it
  // the shape is written as unknown rank.
  void output(const std::string& name, Output value);
  void output(const std::string& name, Output value, const Shape& shape);

  // Data type of an output (TF_DataType(0) when invalid).
  TF_DataType dtype(Output value) const;
  // The first error so far (OK if none).
  const qtf::Status& status() const;

  // The three files' contents, without touching the file system.
  qtf::Status build(tensorflow::SavedModel* saved_model, std::string* index_file,
                    std::string* data_file) const;
  // Writes <dir>/saved_model.pb and <dir>/variables/variables.{index,data-00000-of-00001},
  // creating the folders as needed. Existing files are replaced.
  qtf::Status save(const std::string& dir) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qsm
