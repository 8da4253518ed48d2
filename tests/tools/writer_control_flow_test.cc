// Control flow written the way TensorFlow exports it (If with then/else
// branch functions, StatelessWhile carrying TensorLists as Keras RNN layers
// do, Assert inside a branch), loaded and run by the built-in runtime.
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "loaded_model.h"
#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"

namespace {

using qsm::ModelBuilder;
using qsm::Output;

std::string temp_dir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("qsm_cf_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  return dir.string();
}

// A saved model, loaded through the C API; its folder goes with it.
struct Loaded : quarrow::LoadedModel {
  std::string dir;

  Loaded(const ModelBuilder& b, const std::string& name) : dir(temp_dir(name)) {
    const qtf::Status s = b.save(dir);
    EXPECT_TRUE(s.is_ok()) << s.message();
    std::string error;
    load(dir, quarrow::LoadOptions{}, &error);
  }
  ~Loaded() { std::filesystem::remove_all(dir); }

  // Feeds `x` at serving_default_x; returns output 0 (empty on failure).
  std::vector<float> run(const std::vector<int64_t>& dims, const std::vector<float>& x,
                         std::vector<int64_t>* shape = nullptr) {
    TF_Output in{TF_GraphOperationByName(graph(), "serving_default_x"), 0};
    TF_Output out{TF_GraphOperationByName(graph(), "StatefulPartitionedCall"), 0};
    TF_Tensor* t = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), x.size() * 4);
    std::memcpy(TF_TensorData(t), x.data(), x.size() * 4);
    TF_Tensor* result = nullptr;
    TF_SessionRun(session(), nullptr, &in, &t, 1, &out, &result, 1, nullptr, 0, nullptr, status());
    TF_DeleteTensor(t);
    std::vector<float> v;
    if (result != nullptr) {
      const auto* p = static_cast<const float*>(TF_TensorData(result));
      v.assign(p, p + TF_TensorByteSize(result) / 4);
      if (shape != nullptr) {
        shape->clear();
        for (int d = 0; d < TF_NumDims(result); ++d) shape->push_back(TF_Dim(result, d));
      }
      TF_DeleteTensor(result);
    }
    return v;
  }
};

tensorflow::AttrValue empty_list() {
  tensorflow::AttrValue v;
  v.mutable_list();
  return v;
}

tensorflow::AttrValue scalar_shapes(int n) {
  tensorflow::AttrValue v;
  for (int i = 0; i < n; ++i) v.mutable_list()->add_shape();
  return v;
}

const tensorflow::FunctionDef* find_function(const tensorflow::SavedModel& m, const std::string& name) {
  for (const auto& f : m.meta_graphs(0).graph_def().library().function()) {
    if (f.signature().name() == name) return &f;
  }
  return nullptr;
}

// y = sum(x) > 0 ? x * 2 : -x, through StatelessIf as tf.cond exports it.
void build_if(ModelBuilder& b, bool with_assert) {
  Output x = b.input("x", TF_FLOAT, {-1});
  Output sum = b.op("Sum", {x, b.constant_ints({0})});
  Output pred = b.op("Greater", {sum, b.constant(0.0f)});

  std::vector<Output> a = b.begin_function("cond_true_10", {{"cond_mul_x", TF_FLOAT}});
  if (with_assert) {
    Output max = b.op("Max", {a[0], b.constant_ints({0})}, {}, "cond/Max");
    Output small = b.op("Less", {max, b.constant(100.0f)}, {}, "cond/Less");
    Output msg = b.constant(qsm::TensorValue::string_values({}, {"x is too large"}), "cond/Const_1");
    b.op("Assert", {small, msg, a[0]}, {}, "cond/Assert");
  }
  Output doubled = b.op("Mul", {a[0], b.constant(qsm::TensorValue::scalar(2.0f), "cond/mul/y")}, {}, "cond/mul");
  tensorflow::AttrValue then_fn = b.end_function({{"cond/Identity", doubled}});

  a = b.begin_function("cond_false_11", {{"cond_neg_x", TF_FLOAT}});
  tensorflow::AttrValue else_fn = b.end_function({{"cond/Identity", b.op("Neg", {a[0]}, {}, "cond/Neg")}});

  tensorflow::AttrValue lower;
  lower.set_b(true);
  Output y = b.op(with_assert ? "If" : "StatelessIf", {pred, x},
                  {{"then_branch", then_fn},
                   {"else_branch", else_fn},
                   {"output_shapes", scalar_shapes(0)},
                   {"_lower_using_switch_merge", lower},
                   {"_read_only_resource_inputs", empty_list()}},
                  "cond");
  b.output("y", b.op("Identity", {y}, {}, "cond/Identity"), {-1});
}

TEST(WriterControlFlow, IfRunsTheBranchTheInputSelects) {
  ModelBuilder b;
  build_if(b, false);
  Loaded m(b, "if");
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  EXPECT_EQ(m.run({3}, {1, 2, -1}), (std::vector<float>{2, 4, -2}));
  EXPECT_EQ(m.run({3}, {1, -2, -1}), (std::vector<float>{-1, 2, 1}));

  // The functions are written as TensorFlow writes them.
  tensorflow::SavedModel model;
  std::string index, data;
  ASSERT_TRUE(b.build(&model, &index, &data).is_ok());
  const tensorflow::FunctionDef* then_fn = find_function(model, "cond_true_10");
  ASSERT_NE(then_fn, nullptr);
  EXPECT_EQ(then_fn->signature().input_arg(0).name(), "cond_mul_x");
  EXPECT_EQ(then_fn->signature().output_arg(0).name(), "cond_identity");
  EXPECT_EQ(then_fn->ret().at("cond_identity"), "cond/Identity:output:0");
  bool op_listed = false;
  for (const auto& op : model.meta_graphs(0).meta_info_def().stripped_op_list().op()) {
    op_listed = op_listed || op.name() == "StatelessIf";
  }
  EXPECT_TRUE(op_listed);
}

TEST(WriterControlFlow, AssertInsideABranchFailsOnlyWhenThatBranchRunsAndFails) {
  ModelBuilder b;
  build_if(b, true);
  Loaded m(b, "assert");
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  EXPECT_EQ(m.run({2}, {1, 50}), (std::vector<float>{2, 100}));
  EXPECT_TRUE(m.run({4}, {200, 1, 2, 3}).empty());
  EXPECT_EQ(TF_GetCode(m.status()), TF_INVALID_ARGUMENT);
  EXPECT_NE(std::string(TF_Message(m.status())).find("assertion failed: [x is too large] [200 1 2...]"),
            std::string::npos)
      << TF_Message(m.status());
  // The else branch has no assertion, even for large values.
  EXPECT_EQ(m.run({2}, {-500, 200}), (std::vector<float>{500, -200}));
}

// Running sum over the time axis of x [T, 2], written like a Keras RNN loop:
// StatelessWhile over (loop_counter, maximum_iterations, time, output list,
// state, T, input list) with TensorListFromTensor / GetItem / SetItem / Stack.
void build_scan(ModelBuilder& b) {
  Output x = b.input("x", TF_FLOAT, {-1, 2});
  Output element_shape = b.constant_ints({2});
  Output steps = b.op("StridedSlice", {b.op("Shape", {x}), b.constant_ints({0}), b.constant_ints({1}),
                                       b.constant_ints({1})},
                      {{"shrink_axis_mask", qsm::integer(1)}}, "strided_slice");
  Output input_list = b.op("TensorListFromTensor", {x, element_shape}, {}, "TensorArrayUnstack/TensorListFromTensor");
  Output output_list = b.op("TensorListReserve", {element_shape, steps},
                            {{"element_dtype", qsm::type(TF_FLOAT)}}, "TensorArrayV2_1");
  Output zero = b.constant(qsm::TensorValue::int32s({}, {0}), "time");
  Output state = b.op("Fill", {b.constant_ints({2}), b.constant(0.0f)}, {}, "zeros");
  Output max_iterations = b.constant(qsm::TensorValue::int32s({}, {-1}), "while/maximum_iterations");
  Output counter = b.constant(qsm::TensorValue::int32s({}, {0}), "while/loop_counter");

  const std::vector<qsm::FunctionArg> args = {
      {"while_loop_counter", TF_INT32}, {"while_maximum_iterations", TF_INT32}, {"while_placeholder", TF_INT32},
      {"while_placeholder_1", TF_VARIANT}, {"while_placeholder_2", TF_FLOAT}, {"while_strided_slice_0", TF_INT32},
      {"while_tensorlistfromtensor_0", TF_VARIANT}};
  std::vector<Output> a = b.begin_function("while_cond_20", args);
  tensorflow::AttrValue cond = b.end_function({{"while/Identity", b.op("Less", {a[2], a[5]}, {}, "while/Less")}});

  a = b.begin_function("while_body_21", args);
  Output item = b.op("TensorListGetItem", {a[6], a[2], b.constant_ints({2})},
                     {{"element_dtype", qsm::type(TF_FLOAT)}}, "while/TensorArrayV2Read/TensorListGetItem");
  Output sum = b.op("AddV2", {a[4], item}, {}, "while/add");
  Output written = b.op("TensorListSetItem", {a[3], a[2], sum}, {}, "while/TensorArrayV2Write/TensorListSetItem");
  Output one = b.constant(qsm::TensorValue::int32s({}, {1}), "while/add_1/y");
  tensorflow::AttrValue body = b.end_function({{"while/Identity", b.op("AddV2", {a[0], one}, {}, "while/add_2")},
                                               {"while/Identity_1", a[1]},
                                               {"while/Identity_2", b.op("AddV2", {a[2], one}, {}, "while/add_1")},
                                               {"while/Identity_3", written},
                                               {"while/Identity_4", sum},
                                               {"while_strided_slice", a[5]},
                                               {"while_tensorlistfromtensor", a[6]}});
  tensorflow::AttrValue shapes = scalar_shapes(7);
  shapes.mutable_list()->mutable_shape(4)->add_dim()->set_size(2);
  Output loop = b.op("StatelessWhile", {counter, max_iterations, zero, output_list, state, steps, input_list},
                     {{"cond", cond}, {"body", body}, {"output_shapes", shapes},
                      {"parallel_iterations", qsm::integer(32)}},
                     "while");
  Output stacked = b.op("TensorListStack", {loop.at(3), b.constant_ints({2})},
                        {{"element_dtype", qsm::type(TF_FLOAT)}}, "TensorArrayV2Stack/TensorListStack");
  b.output("sums", stacked, {-1, 2});
}

TEST(WriterControlFlow, StatelessWhileOverTensorListsComputesARunningSum) {
  ModelBuilder b;
  build_scan(b);
  Loaded m(b, "scan");
  ASSERT_EQ(TF_GetCode(m.status()), TF_OK) << TF_Message(m.status());
  for (int steps : {1, 4, 9}) {
    std::vector<float> x;
    for (int t = 0; t < steps; ++t) {
      x.push_back(static_cast<float>(t + 1));
      x.push_back(static_cast<float>(-2 * t));
    }
    std::vector<float> want;
    float s0 = 0, s1 = 0;
    for (int t = 0; t < steps; ++t) {
      s0 += x[2 * static_cast<size_t>(t)];
      s1 += x[2 * static_cast<size_t>(t) + 1];
      want.push_back(s0);
      want.push_back(s1);
    }
    std::vector<int64_t> shape;
    EXPECT_EQ(m.run({steps, 2}, x, &shape), want) << steps << " steps: " << TF_Message(m.status());
    EXPECT_EQ(shape, (std::vector<int64_t>{steps, 2}));
  }
  tensorflow::SavedModel model;
  std::string index, data;
  ASSERT_TRUE(b.build(&model, &index, &data).is_ok());
  const tensorflow::FunctionDef* body = find_function(model, "while_body_21");
  ASSERT_NE(body, nullptr);
  // Pass-through loop variables are returned as arguments, the others through Identity.
  EXPECT_EQ(body->ret().at("while_strided_slice"), "while_strided_slice_0");
  EXPECT_EQ(body->ret().at("while_identity_3"), "while/Identity_3:output:0");
}

TEST(WriterControlFlow, FunctionsSeeOnlyTheirOwnValues) {
  ModelBuilder b;
  Output x = b.input("x", TF_FLOAT, {1});
  b.begin_function("f", {{"a", TF_FLOAT}});
  b.op("Neg", {x});
  EXPECT_FALSE(b.status().is_ok());
  EXPECT_NE(b.status().message().find("belongs to another function"), std::string::npos) << b.status().message();

  ModelBuilder open;
  open.output("y", open.input("x", TF_FLOAT, {1}));
  open.begin_function("g", {{"a", TF_FLOAT}});
  tensorflow::SavedModel model;
  std::string index, data;
  EXPECT_FALSE(open.build(&model, &index, &data).is_ok());
}

}  // namespace
