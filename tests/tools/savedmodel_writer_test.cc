// The SavedModel writer's output: TensorFlow 2 structure (compared property by
// property with a model TensorFlow exported), type inference, default-attr
// stripping, naming and error reporting of the builder.
#include <unistd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "checkpoint/table.h"
#include "savedmodel_structure.h"
#include "savedmodel_writer.h"

namespace {

using qsm::ModelBuilder;
using qsm::Output;
using qsm::TensorValue;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A small network using variables, a list-input op and multi-output refs.
void build_sample(ModelBuilder& b) {
  Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
  Output w = b.variable("conv/kernel", {1, 1, 3, 2}, {1, 0, 0, 1, 0, 0});
  Output bias = b.variable("conv/bias", {2}, {0.5f, -0.5f});
  Output y = b.op("Conv2D", {x, w}, {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")},
                                     {"data_format", qsm::str("NHWC")}});
  y = b.op("BiasAdd", {y, bias});
  y = b.op("Relu", {y});
  Output both = b.op("ConcatV2", {y, y, b.constant_ints({3})});
  b.output("scores", both, {1, -1, -1, 4});
  b.output("activations", y);
}

const tensorflow::FunctionDef* wrapper_of(const tensorflow::SavedModel& m) {
  for (const auto& f : m.meta_graphs(0).graph_def().library().function()) {
    if (f.signature().name().rfind("__inference_signature_wrapper_", 0) == 0) return &f;
  }
  return nullptr;
}

const tensorflow::NodeDef* body_node(const tensorflow::FunctionDef& f, const std::string& name) {
  for (const auto& n : f.node_def()) {
    if (n.name() == name) return &n;
  }
  return nullptr;
}

TEST(SavedModelWriter, WrittenModelHasTensorFlow2Structure) {
  ModelBuilder b;
  build_sample(b);
  tensorflow::SavedModel model;
  std::string index, data;
  ASSERT_TRUE(b.build(&model, &index, &data).is_ok()) << b.status().message();
  qsm_test::check_saved_model_structure(model, "writer");
  qsm_test::check_checkpoint_structure(model, index, data, "writer");

  const auto& meta = model.meta_graphs(0);
  EXPECT_EQ(meta.saver_def().restore_op_name(), "StatefulPartitionedCall_2");
  EXPECT_EQ(meta.saver_def().save_tensor_name(), "StatefulPartitionedCall_1:0");
  const auto& sig = meta.signature_def().at("serving_default");
  EXPECT_EQ(sig.inputs().at("input").name(), "serving_default_input:0");
  EXPECT_EQ(sig.inputs().at("input").tensor_shape().dim(1).size(), -1);
  // Outputs in sorted key order, as TensorFlow flattens a dict.
  EXPECT_EQ(sig.outputs().at("activations").name(), "StatefulPartitionedCall:0");
  EXPECT_EQ(sig.outputs().at("scores").name(), "StatefulPartitionedCall:1");
  EXPECT_TRUE(sig.outputs().at("activations").tensor_shape().unknown_rank());
  EXPECT_EQ(sig.outputs().at("scores").tensor_shape().dim(3).size(), 4);
  // The checkpoint holds both variables and the object graph.
  qtf::TableEntries entries;
  ASSERT_TRUE(qtf::parse_table(index, "variables.index", &entries).is_ok());
  std::vector<std::string> keys;
  for (const auto& e : entries) keys.push_back(e.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"", "_CHECKPOINTABLE_OBJECT_GRAPH",
                                            "conv/bias/.ATTRIBUTES/VARIABLE_VALUE",
                                            "conv/kernel/.ATTRIBUTES/VARIABLE_VALUE"}));
}

TEST(SavedModelWriter, RealExportHasTheSameStructure) {
  const std::string dir = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/half_plus_two_tf2";
  const std::string pb = read_file(dir + "/saved_model.pb");
  if (pb.empty()) GTEST_SKIP() << "fixture not present: " << dir;
  tensorflow::SavedModel model;
  ASSERT_TRUE(model.ParseFromString(pb));
  qsm_test::check_saved_model_structure(model, "tensorflow");
  qsm_test::check_checkpoint_structure(model, read_file(dir + "/variables/variables.index"),
                                       read_file(dir + "/variables/variables.data-00000-of-00001"),
                                       "tensorflow");
}

TEST(SavedModelWriter, BodyReferencesUseOutputArgNames) {
  ModelBuilder b;
  build_sample(b);
  Output x = b.input("second", TF_FLOAT, {4});
  Output parts = b.op("Split", {b.constant(TensorValue::int32s({}, {0})), x}, {{"num_split", qsm::integer(2)}});
  b.output("tail", parts.at(1));
  tensorflow::SavedModel model;
  std::string index, data;
  if (!b.build(&model, &index, &data).is_ok()) {
    // Split may not be in this runtime's op list; the rest is covered below.
    EXPECT_NE(b.status().message().find("Split"), std::string::npos) << b.status().message();
    return;
  }
  const tensorflow::FunctionDef* f = wrapper_of(model);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(body_node(*f, "Relu")->input(0), "BiasAdd:output:0");
  EXPECT_EQ(body_node(*f, "BiasAdd")->input(0), "Conv2D:output:0");
  EXPECT_EQ(body_node(*f, "Conv2D")->input(0), "input");
  EXPECT_EQ(body_node(*f, "Conv2D")->input(1), "conv/kernel/ReadVariableOp:value:0");
  EXPECT_EQ(body_node(*f, "ConcatV2")->input(1), "Relu:activations:0");
  bool found = false;
  for (const auto& n : f->node_def()) found = found || (n.op() == "Identity" && n.input(0) == "Split:output:1");
  EXPECT_TRUE(found);
}

TEST(SavedModelWriter, InfersTypeAttrsAndStripsDefaults) {
  ModelBuilder b;
  build_sample(b);
  tensorflow::SavedModel model;
  std::string index, data;
  ASSERT_TRUE(b.build(&model, &index, &data).is_ok()) << b.status().message();
  const tensorflow::FunctionDef* f = wrapper_of(model);
  ASSERT_NE(f, nullptr);
  const auto& conv = body_node(*f, "Conv2D")->attr();
  EXPECT_EQ(conv.at("T").type(), tensorflow::DT_FLOAT);
  EXPECT_EQ(conv.count("data_format"), 0u) << "NHWC is the default";
  EXPECT_EQ(conv.count("dilations"), 0u);
  EXPECT_EQ(conv.at("padding").s(), "SAME");
  const auto& concat = body_node(*f, "ConcatV2")->attr();
  EXPECT_EQ(concat.at("N").i(), 2);
  EXPECT_EQ(concat.count("Tidx"), 0u) << "int32 is the default";
  EXPECT_EQ(body_node(*f, "conv/bias/ReadVariableOp")->attr().at("dtype").type(), tensorflow::DT_FLOAT);
  // The stripped op list keeps the defaults a reader needs.
  bool conv_listed = false;
  for (const auto& op : model.meta_graphs(0).meta_info_def().stripped_op_list().op()) {
    if (op.name() != "Conv2D") continue;
    conv_listed = true;
    for (const auto& attr : op.attr()) {
      if (attr.name() == "data_format") {
        EXPECT_EQ(attr.default_value().s(), "NHWC");
      }
    }
  }
  EXPECT_TRUE(conv_listed);
  // A non-default value is kept.
  ModelBuilder c;
  Output x = c.input("input", TF_FLOAT, {1, 4, 4, 3});
  Output w = c.variable("w", {1, 1, 3, 1}, {1, 1, 1});
  c.output("y", c.op("Conv2D", {x, w}, {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("VALID")},
                                        {"data_format", qsm::str("NCHW")}}));
  ASSERT_TRUE(c.build(&model, &index, &data).is_ok());
  EXPECT_EQ(body_node(*wrapper_of(model), "Conv2D")->attr().at("data_format").s(), "NCHW");
}

TEST(SavedModelWriter, ReportsTheFirstErrorAndKeepsIt) {
  struct Case {
    const char* what;
    void (*build)(ModelBuilder&);
    const char* message_part;
  } cases[] = {
      {"unknown op", [](ModelBuilder& b) { b.op("NoSuchOp", {b.input("x", TF_FLOAT, {1})}); }, "NoSuchOp"},
      {"type mismatch",
       [](ModelBuilder& b) { b.op("AddV2", {b.input("x", TF_FLOAT, {1}), b.constant_ints({1})}); },
       "expected"},
      {"missing attr", [](ModelBuilder& b) { b.op("Cast", {b.input("x", TF_FLOAT, {1})}); }, "DstT"},
      {"wrong input count", [](ModelBuilder& b) { b.op("Relu", {b.input("x", TF_FLOAT, {1}), b.constant(1.0f)}); },
       "expects 1 inputs"},
      {"invalid input", [](ModelBuilder& b) { b.op("Relu", {Output{}}); }, "invalid"},
      {"duplicate input", [](ModelBuilder& b) { b.input("x", TF_FLOAT, {1}); b.input("x", TF_FLOAT, {1}); }, "twice"},
      {"duplicate variable",
       [](ModelBuilder& b) { b.variable("v", {1}, {1}); b.variable("v", {1}, {2}); }, "twice"},
      {"variable size", [](ModelBuilder& b) { b.variable("v", {2, 2}, {1, 2, 3}); }, "3 values for 4"},
      {"bad variable name", [](ModelBuilder& b) { b.variable("a//b", {1}, {1}); }, "invalid variable name"},
      {"duplicate node name",
       [](ModelBuilder& b) { Output x = b.input("x", TF_FLOAT, {1}); b.op("Relu", {x}, {}, "r"); b.op("Relu", {x}, {}, "r"); },
       "already used"},
      {"no outputs", [](ModelBuilder& b) { b.input("x", TF_FLOAT, {1}); }, "no outputs"},
      {"variable clashes with graph node",
       [](ModelBuilder& b) { b.output("y", b.variable("saver_filename", {1}, {1})); }, "used twice"},
  };
  for (const Case& c : cases) {
    ModelBuilder b;
    c.build(b);
    // Later calls after an error return invalid outputs and do not replace it.
    Output later = b.constant(1.0f);
    if (!b.status().is_ok()) {
      EXPECT_FALSE(later.valid()) << c.what;
    }
    tensorflow::SavedModel model;
    std::string index, data;
    const qtf::Status s = b.build(&model, &index, &data);
    ASSERT_FALSE(s.is_ok()) << c.what;
    EXPECT_NE(s.message().find(c.message_part), std::string::npos) << c.what << ": " << s.message();
  }
}

TEST(SavedModelWriter, SameNetworkGivesSameBytes) {
  const std::string base = ::testing::TempDir() + "/" + std::to_string(getpid()) + "_qsm_determinism";
  for (const char* name : {"/one", "/two"}) {
    ModelBuilder b;
    build_sample(b);
    ASSERT_TRUE(b.save(base + name).is_ok());
  }
  for (const char* file : {"/saved_model.pb", "/variables/variables.index",
                           "/variables/variables.data-00000-of-00001"}) {
    const std::string one = read_file(base + "/one" + file);
    EXPECT_FALSE(one.empty()) << file;
    EXPECT_EQ(one, read_file(base + "/two" + file)) << file;
  }
}

TEST(SavedModelWriter, NamesAndOptions) {
  qsm::WriterOptions options;
  options.include_save = false;
  ModelBuilder b(options);
  Output x = b.input("my image", TF_FLOAT, {1});
  Output r1 = b.op("Relu", {x});
  Output r2 = b.op("Relu", {r1});
  b.output("out", r2);
  EXPECT_EQ(b.dtype(r2), TF_FLOAT);
  EXPECT_EQ(b.dtype(Output{}), static_cast<TF_DataType>(0));
  tensorflow::SavedModel model;
  std::string index, data;
  ASSERT_TRUE(b.build(&model, &index, &data).is_ok()) << b.status().message();
  const auto& meta = model.meta_graphs(0);
  EXPECT_EQ(meta.signature_def().at("serving_default").inputs().at("my image").name(),
            "serving_default_my_image:0");
  EXPECT_TRUE(meta.saver_def().save_tensor_name().empty());
  for (const auto& n : meta.graph_def().node()) EXPECT_NE(n.name(), "StatefulPartitionedCall_1");
  const tensorflow::FunctionDef* f = wrapper_of(model);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->signature().input_arg(0).name(), "my_image");
  EXPECT_EQ(body_node(*f, "Relu_1")->input(0), "Relu:activations:0");
  qsm_test::check_saved_model_structure(model, "no-save");
  qsm_test::check_checkpoint_structure(model, index, data, "no-save");
}

TEST(TensorValue, ConstEncodingFollowsTensorFlow) {
  // One element: typed *_val field; more: tensor_content; strings: string_val.
  tensorflow::TensorProto p = TensorValue::scalar(2.5f).to_proto();
  EXPECT_EQ(p.float_val_size(), 1);
  EXPECT_TRUE(p.tensor_content().empty());
  p = TensorValue::int32s({3}, {1, 2, 3}).to_proto();
  EXPECT_EQ(p.tensor_content().size(), 12u);
  EXPECT_EQ(p.tensor_shape().dim(0).size(), 3);
  p = TensorValue::int64s({}, {7}).to_proto();
  EXPECT_EQ(p.int64_val(0), 7);
  p = TensorValue::bools({1}, {true}).to_proto();
  EXPECT_TRUE(p.bool_val(0));
  p = TensorValue::string_values({2}, {"a", "b"}).to_proto();
  EXPECT_EQ(p.string_val_size(), 2);
  p = TensorValue::floats({0, 3}, {}).to_proto();
  EXPECT_EQ(p.float_val_size(), 0);
  EXPECT_TRUE(p.tensor_content().empty());
  EXPECT_FALSE(TensorValue::floats({-1}, {}).validate().is_ok());
  EXPECT_TRUE(TensorValue::uint8s({2}, {1, 2}).validate().is_ok());
}

}  // namespace
