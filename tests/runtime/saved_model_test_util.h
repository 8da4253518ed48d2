// A hand-made TensorFlow-2-style SavedModel: y = x * w + 1 with one resource
// variable w restored from a checkpoint, laid out as tf.saved_model.save does
// (signature wrapper call, saver_filename, restore function with RestoreV2 and
// AssignVariableOp under control results, NoOp init op). Tests change the
// protobuf before writing it to break one thing at a time.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "checkpoint_test_util.h"
#include "graph_test_util.h"

namespace qtf::testing {

struct TestModel {
  tensorflow::SavedModel saved_model;
  BundleBuilder checkpoint;

  tensorflow::MetaGraphDef& meta() { return *saved_model.mutable_meta_graphs(0); }
  tensorflow::GraphDef& graph() { return *meta().mutable_graph_def(); }
  tensorflow::FunctionDef* function(const std::string& name) {
    for (auto& f : *graph().mutable_library()->mutable_function()) {
      if (f.signature().name() == name) return &f;
    }
    return nullptr;
  }

  void write(const std::string& dir) const {
    ::mkdir(dir.c_str(), 0755);
    ::mkdir((dir + "/variables").c_str(), 0755);
    write_file(dir + "/saved_model.pb", saved_model.SerializeAsString());
    checkpoint.write(dir + "/variables/variables");
  }
};

inline TestModel make_test_model(const std::vector<float>& w = {2.0f, -3.0f}) {
  using tensorflow::DT_FLOAT;
  using tensorflow::DT_RESOURCE;
  using tensorflow::DT_STRING;
  TestModel m;
  auto* meta = m.saved_model.add_meta_graphs();
  meta->mutable_meta_info_def()->add_tags("serve");
  meta->mutable_meta_info_def()->set_stripped_default_attrs(true);
  auto* g = meta->mutable_graph_def();
  auto* lib = g->mutable_library();

  *lib->add_function() = function(
      "__inference_model_10", {{"x", DT_FLOAT}, {"w_resource", DT_RESOURCE}}, {{"identity", DT_FLOAT}},
      {node("ReadVariableOp", "ReadVariableOp", {"w_resource"}, {{"dtype", type_attr(DT_FLOAT)}}),
       node("mul", "Mul", {"x", "ReadVariableOp:value:0"}, {{"T", type_attr(DT_FLOAT)}}),
       const_node("one", float_proto({}, {1.0f})),
       node("add", "AddV2", {"mul:z:0", "one:output:0"}, {{"T", type_attr(DT_FLOAT)}}),
       node("NoOp", "NoOp", {"^ReadVariableOp"}),
       node("Identity", "Identity", {"add:z:0", "^NoOp"}, {{"T", type_attr(DT_FLOAT)}})},
      {{"identity", "Identity:output:0"}});
  *lib->add_function() = function(
      "__inference_signature_wrapper_20", {{"x", DT_FLOAT}, {"unknown", DT_RESOURCE}},
      {{"output_0", DT_FLOAT}},
      {call("StatefulPartitionedCall", "__inference_model_10", {"x", "unknown"}, {DT_FLOAT, DT_RESOURCE},
            {DT_FLOAT}),
       node("Identity", "Identity", {"StatefulPartitionedCall:output:0"}, {{"T", type_attr(DT_FLOAT)}})},
      {{"output_0", "Identity:output:0"}});
  *lib->add_function() = function(
      "__inference__traced_restore_30", {{"file_prefix", DT_STRING}, {"assignvariableop_w", DT_RESOURCE}},
      {{"identity_2", DT_STRING}},
      {const_node("RestoreV2/tensor_names",
                  string_proto({"w/.ATTRIBUTES/VARIABLE_VALUE", "_CHECKPOINTABLE_OBJECT_GRAPH"})),
       const_node("RestoreV2/shape_and_slices", string_proto({"", ""})),
       node("RestoreV2", "RestoreV2",
            {"file_prefix", "RestoreV2/tensor_names:output:0", "RestoreV2/shape_and_slices:output:0"},
            {{"dtypes", types_attr({DT_FLOAT, DT_STRING})}}),
       node("Identity", "Identity", {"RestoreV2:tensors:0"}, {{"T", type_attr(DT_FLOAT)}}),
       node("AssignVariableOp", "AssignVariableOp", {"assignvariableop_w", "Identity:output:0"},
            {{"dtype", type_attr(DT_FLOAT)}}),
       node("NoOp_1", "NoOp", {"^AssignVariableOp"}),
       node("Identity_1", "Identity", {"file_prefix", "^AssignVariableOp", "^NoOp_1"},
            {{"T", type_attr(DT_STRING)}})},
      {{"identity_2", "Identity_1:output:0"}}, {{"AssignVariableOp", "AssignVariableOp"}});

  *g->add_node() = node("w", "VarHandleOp", {},
                        {{"dtype", type_attr(DT_FLOAT)}, {"shape", shape_attr({2})},
                         {"shared_name", string_attr("w")}});
  *g->add_node() = node("serving_default_x", "Placeholder", {},
                        {{"dtype", type_attr(DT_FLOAT)}, {"shape", shape_attr({-1, 2})}});
  *g->add_node() = call("StatefulPartitionedCall", "__inference_signature_wrapper_20",
                        {"serving_default_x", "w"}, {DT_FLOAT, DT_RESOURCE}, {DT_FLOAT});
  *g->add_node() = node("NoOp", "NoOp");
  *g->add_node() = node("saver_filename", "Placeholder", {},
                        {{"dtype", type_attr(DT_STRING)}, {"shape", shape_attr({})}});
  *g->add_node() = call("StatefulPartitionedCall_1", "__inference__traced_restore_30",
                        {"saver_filename", "w"}, {DT_STRING, DT_RESOURCE}, {DT_STRING});

  auto* saver = meta->mutable_saver_def();
  saver->set_filename_tensor_name("saver_filename:0");
  saver->set_restore_op_name("StatefulPartitionedCall_1");
  saver->set_version(tensorflow::SaverDef::V2);

  tensorflow::SignatureDef serving;
  serving.set_method_name("tensorflow/serving/predict");
  (*serving.mutable_inputs())["x"].set_name("serving_default_x:0");
  (*serving.mutable_inputs())["x"].set_dtype(DT_FLOAT);
  (*serving.mutable_outputs())["output_0"].set_name("StatefulPartitionedCall:0");
  (*serving.mutable_outputs())["output_0"].set_dtype(DT_FLOAT);
  (*meta->mutable_signature_def())["serving_default"] = serving;
  tensorflow::SignatureDef init;
  (*init.mutable_outputs())["__saved_model_init_op"].set_name("NoOp");
  (*meta->mutable_signature_def())["__saved_model_init_op"] = init;

  m.checkpoint.add<float>("w/.ATTRIBUTES/VARIABLE_VALUE", DT_FLOAT, {static_cast<int64_t>(w.size())}, w);
  m.checkpoint.add_strings("_CHECKPOINTABLE_OBJECT_GRAPH", {}, {"object graph"});
  return m;
}

}  // namespace qtf::testing
