// Models needing ops the runtime lacks: the load fails with one bounded line
// naming every missing op of the serving path (inside nested functions and
// branches named by func attrs too), and inspect and check say the same.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>

#include "loaded_model.h"
#include "savedmodel_writer.h"
#include "test_models.h"
#include "tool_process.h"

namespace {

constexpr char kWrapper[] = "__inference_signature_wrapper_100";

std::string temp(const std::string& name) {
  return ::testing::TempDir() + "/" + std::to_string(getpid()) + "_unsupported_" + name;
}

using quarrow::models::testing::read_file;
using quarrow::models::testing::Result;
using quarrow::models::testing::run_tool;

tensorflow::NodeDef node(const std::string& name, const std::string& op, std::vector<std::string> inputs) {
  tensorflow::NodeDef n;
  n.set_name(name);
  n.set_op(op);
  for (const std::string& in : inputs) n.add_input(in);
  return n;
}

// A float -> float function whose result is `body`'s last node's output 0.
tensorflow::FunctionDef unary_function(const std::string& name, std::vector<tensorflow::NodeDef> body) {
  tensorflow::FunctionDef f;
  f.mutable_signature()->set_name(name);
  auto* in = f.mutable_signature()->add_input_arg();
  in->set_name("a");
  in->set_type(tensorflow::DT_FLOAT);
  auto* out = f.mutable_signature()->add_output_arg();
  out->set_name("y");
  out->set_type(tensorflow::DT_FLOAT);
  (*f.mutable_ret())["y"] = body.back().name() + ":y:0";
  for (auto& n : body) *f.add_node_def() = std::move(n);
  return f;
}

tensorflow::FunctionDef* find_function(tensorflow::SavedModel* model, const std::string& name) {
  for (auto& f : *model->mutable_meta_graphs(0)->mutable_graph_def()->mutable_library()->mutable_function()) {
    if (f.signature().name() == name) return &f;
  }
  return nullptr;
}

tensorflow::NodeDef* find_node(tensorflow::FunctionDef* f, const std::string& name) {
  for (auto& n : *f->mutable_node_def()) {
    if (n.name() == name) return &n;
  }
  return nullptr;
}

void rewrite(const std::string& dir, const std::function<void(tensorflow::SavedModel*)>& edit) {
  tensorflow::SavedModel model;
  ASSERT_TRUE(model.ParseFromString(read_file(dir + "/saved_model.pb")));
  edit(&model);
  std::ofstream(dir + "/saved_model.pb", std::ios::binary | std::ios::trunc) << model.SerializeAsString();
}

// A segmentation-shaped model written by the writer, then given ops no
// runtime has: two in the serving function, one in a function called by a
// called function (by op name), one in a branch only a func attr names, and
// one in a function nothing calls.
void write_model_with_unknown_ops(const std::string& dir) {
  qsm::ModelBuilder b;
  qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
  qsm::Output gate = b.op("Relu", {b.op("Relu", {x}, {}, "gate_a")}, {}, "gate_b");
  qsm::Output inner = b.op("PartitionedCall", {x},
                           {{"Tout", qsm::types({TF_FLOAT})}, {"f", qsm::str("")}}, "inner");
  qsm::Output cond = b.op("AddV2", {gate, inner}, {}, "cond");
  qsm::Output score = b.op("Slice", {cond, b.constant_ints({0, 0, 0, 0}), b.constant_ints({-1, -1, -1, 1})});
  b.output("output_0", score, {1, -1, -1, 1});
  ASSERT_TRUE(b.save(dir).is_ok()) << b.status().message();
  rewrite(dir, [](tensorflow::SavedModel* model) {
    tensorflow::FunctionDef* wrapper = find_function(model, kWrapper);
    ASSERT_NE(wrapper, nullptr);
    find_node(wrapper, "gate_a")->set_op("QtfTestAnd");
    find_node(wrapper, "gate_b")->set_op("QtfTestAnd");
    tensorflow::NodeDef* branch = find_node(wrapper, "cond");
    branch->set_op("QtfTestIf");
    (*branch->mutable_attr())["then_branch"].mutable_func()->set_name("then_branch_7");
    (*branch->mutable_attr())["else_branch"].mutable_func()->set_name("else_branch_8");
    (*find_node(wrapper, "inner")->mutable_attr())["f"].mutable_func()->set_name("inner_call_5");
    auto* library = model->mutable_meta_graphs(0)->mutable_graph_def()->mutable_library();
    *library->add_function() = unary_function("inner_call_5", {node("deeper", "deeper_call_6", {"a"})});
    *library->add_function() = unary_function("deeper_call_6", {node("erf", "QtfTestErf", {"a"})});
    *library->add_function() = unary_function("then_branch_7", {node("where", "QtfTestWhere", {"a"})});
    *library->add_function() = unary_function("else_branch_8", {node("relu", "Relu", {"a"})});
    *library->add_function() = unary_function("train_step_9", {node("dropout", "QtfTestDropout", {"a"})});
  });
}

const char kExpectedLine[] =
    "unsupported ops: QtfTestAnd (2, node 'gate_a' in '__inference_signature_wrapper_100'), "
    "QtfTestErf (1, node 'erf' in 'deeper_call_6'), "
    "QtfTestIf (1, node 'cond' in '__inference_signature_wrapper_100'), "
    "QtfTestWhere (1, node 'where' in 'then_branch_7')";

std::string load_error(const std::string& dir, TF_Code* code) {
  TF_Status* status = TF_NewStatus();
  TF_SessionOptions* options = TF_NewSessionOptions();
  TF_Graph* graph = TF_NewGraph();
  const char* tags[] = {"serve"};
  TF_Session* session = TF_LoadSessionFromSavedModel(options, nullptr, dir.c_str(), tags, 1, graph, nullptr, status);
  EXPECT_EQ(session, nullptr);
  if (session != nullptr) TF_DeleteSession(session, status);
  *code = TF_GetCode(status);
  std::string message = TF_Message(status);
  TF_DeleteGraph(graph);
  TF_DeleteSessionOptions(options);
  TF_DeleteStatus(status);
  return message;
}

TEST(UnsupportedOps, LoadNamesEveryMissingOpOnTheServingPath) {
  const std::string dir = temp("model");
  write_model_with_unknown_ops(dir);
  TF_Code code = TF_OK;
  EXPECT_EQ(load_error(dir, &code), kExpectedLine);
  EXPECT_EQ(code, TF_UNIMPLEMENTED);
}

TEST(UnsupportedOps, ManyMissingOpsStayWithinOneBoundedLine) {
  const std::string dir = temp("many");
  write_model_with_unknown_ops(dir);
  constexpr int kExtra = 60;
  rewrite(dir, [](tensorflow::SavedModel* model) {
    tensorflow::FunctionDef* deeper = find_function(model, "deeper_call_6");
    std::string ref = "erf:y:0";
    for (int k = 0; k < kExtra; ++k) {
      const std::string name = "step_" + std::to_string(k) + std::string(40, 's');
      *deeper->add_node_def() = node(name, "QtfTestVeryLongOperationName" + std::to_string(k), {ref});
      ref = name + ":y:0";
    }
    (*deeper->mutable_ret())["y"] = ref;
  });
  TF_Code code = TF_OK;
  const std::string message = load_error(dir, &code);
  EXPECT_EQ(code, TF_UNIMPLEMENTED);
  EXPECT_LE(message.size(), 400u) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos);
  EXPECT_EQ(message.rfind("unsupported ops: QtfTestAnd (2, node 'gate_a'", 0), 0u) << message;
  // 64 missing ops in all; the tail counts the ones left out.
  size_t listed = 0;
  for (size_t at = message.find(", node '"); at != std::string::npos; at = message.find(", node '", at + 1)) ++listed;
  const std::string tail = "\xE2\x80\xA6" "and " + std::to_string(kExtra + 4 - listed) + " more";
  ASSERT_GE(message.size(), tail.size());
  EXPECT_EQ(message.substr(message.size() - tail.size()), tail) << message;
}

// One op row of inspect's listing: name in (at least) 32 columns, count in 5.
std::string row(const std::string& op, int count) {
  const std::string n = std::to_string(count);
  return "    " + op + std::string(op.size() < 32 ? 32 - op.size() : 0, ' ') + std::string(5 - n.size(), ' ') + n;
}

TEST(UnsupportedOps, InspectListsThePathAndMarksTheMissingOps) {
  const std::string dir = temp("inspected");
  write_model_with_unknown_ops(dir);
  const Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> parts = {
      "serving path ops (", ", 4 unsupported):",
        row("QtfTestAnd", 2) + "  UNSUPPORTED (node 'gate_a' in '__inference_signature_wrapper_100')\n",
        row("QtfTestWhere", 1) + "  UNSUPPORTED (node 'where' in 'then_branch_7')\n", row("Relu", 1) + "\n",
        row("StatefulPartitionedCall", 2) + "\n", row("PartitionedCall", 1) + "\n", std::string("  ") + kExpectedLine + "\n"};
  for (const std::string& part : parts) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("QtfTestDropout"), std::string::npos) << r.out;
}

TEST(UnsupportedOps, InspectOfASupportedModelMarksNothing) {
  const std::string dir = temp("fine");
  ASSERT_TRUE(qsm::write_segmentation_model(dir).is_ok());
  const Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(", 0 unsupported):"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(row("Slice", 1) + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("UNSUPPORTED"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("unsupported ops:"), std::string::npos) << r.out;
}

// A transposed depthwise convolution (the form Keras and ONNX exports use):
// a [1, 2, 2, 2] input scattered by a 2x2 window at stride 2 into 4x4, one
// input channel with multiplier 2.
void write_transposed_depthwise_model(const std::string& dir) {
  qsm::ModelBuilder b;
  qsm::Output x = b.input("input", TF_FLOAT, {1, 2, 2, 2});
  qsm::Output filter = b.variable("up/depthwise_kernel", {2, 2, 1, 2}, {1, 10, 2, 20, 3, 30, 4, 40});
  qsm::Output y = b.op("DepthwiseConv2dNativeBackpropInput", {b.constant_ints({1, 4, 4, 1}), filter, x},
                       {{"strides", qsm::ints({1, 2, 2, 1})}, {"padding", qsm::str("VALID")}});
  b.output("output_0", y, {1, 4, 4, 1});
  ASSERT_TRUE(b.save(dir).is_ok()) << b.status().message();
}

TEST(UnsupportedOps, ConvolutionsOfExportsAreInspectedAsSupportedAndRun) {
  const std::string dir = temp("transposed_depthwise");
  write_transposed_depthwise_model(dir);
  const Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(", 0 unsupported):"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(row("DepthwiseConv2dNativeBackpropInput", 1) + "\n"), std::string::npos) << r.out;
  quarrow::LoadedModel model;
  std::string error;
  ASSERT_TRUE(model.load(dir, "", &error)) << error;
  TF_Output in, out;
  ASSERT_TRUE(model.find_output("serving_default_input", &in, &error)) << error;
  ASSERT_TRUE(model.find_output("StatefulPartitionedCall:0", &out, &error)) << error;
  const int64_t dims[] = {1, 2, 2, 2};
  const float x[] = {1, 0, 0, 1, 2, 0, 0, 2};  // (i, j, m): m 0 at (0,0) and (1,0), m 1 elsewhere
  TF_Tensor* t = TF_AllocateTensor(TF_FLOAT, dims, 4, sizeof(x));
  std::memcpy(TF_TensorData(t), x, sizeof(x));
  std::vector<TF_Tensor*> results;
  const bool ran = model.run({in}, {t}, {out}, &results, &error);
  TF_DeleteTensor(t);
  ASSERT_TRUE(ran) << error;
  // Cell (2i + a, 2j + b) = sum over m of x(i, j, m) * filter(a, b, 0, m).
  const std::vector<float> want = {1, 2, 10, 20, 3, 4, 30, 40, 2, 4, 20, 40, 6, 8, 60, 80};
  const auto* y = static_cast<const float*>(TF_TensorData(results[0]));
  EXPECT_EQ(std::vector<float>(y, y + want.size()), want);
  TF_DeleteTensor(results[0]);
}

TEST(UnsupportedOps, CheckNamesTheMissingOpsOfEachModel) {
  const std::string folder = temp("folder");
  ASSERT_TRUE(qsm::write_model_folder(folder).is_ok());
  write_model_with_unknown_ops(folder + "/ground_segm_model");
  const Result r = run_tool("check " + folder);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find(std::string("ground_segm_model     FAIL   ") + folder + "/ground_segm_model: load failed (code 12): " +
                       kExpectedLine + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("sky_segm_model        ok"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 of 4 models fail"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(kExpectedLine), std::string::npos) << r.err;
}

}  // namespace
