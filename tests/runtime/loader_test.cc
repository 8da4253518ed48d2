// SavedModel loading through the C API, on hand-made models and on damaged
// copies of the real TensorFlow fixture.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "loaded_model.h"
#include "saved_model_test_util.h"
#include "temp_dir.h"
#include "tensorflow/c/c_api.h"

namespace qtf {
namespace {

using testing::make_test_model;
using testing::TempDir;
using testing::TestModel;

// A model loaded with `tags`, and its first serving signature run on x.
struct Handles : quarrow::LoadedModel {
  explicit Handles(const std::string& dir, std::vector<const char*> tags = {"serve"})
      : quarrow::LoadedModel(dir, with_tags(std::move(tags))) {}
  static quarrow::LoadOptions with_tags(std::vector<const char*> tags) {
    quarrow::LoadOptions options;
    options.tags = std::move(tags);
    return options;
  }
  TF_Code code() const { return TF_GetCode(status()); }
  std::string message() const { return TF_Message(status()); }

  // Feeds x of shape [1, 2] and fetches the serving output.
  std::vector<float> serve(std::vector<float> x) {
    TF_Output in{TF_GraphOperationByName(graph(), "serving_default_x"), 0};
    TF_Output out{TF_GraphOperationByName(graph(), "StatefulPartitionedCall"), 0};
    const int64_t dims[] = {1, 2};
    TF_Tensor* t = TF_NewTensor(TF_FLOAT, dims, 2, x.data(), 8, [](void*, size_t, void*) {}, nullptr);
    TF_Tensor* result = nullptr;
    TF_SessionRun(session(), nullptr, &in, &t, 1, &out, &result, 1, nullptr, 0, nullptr, status());
    TF_DeleteTensor(t);
    std::vector<float> y;
    if (result != nullptr) {
      const auto* p = static_cast<const float*>(TF_TensorData(result));
      y.assign(p, p + TF_TensorByteSize(result) / 4);
      TF_DeleteTensor(result);
    }
    return y;
  }
};

TEST(Loader, HandMadeModelRestoresVariablesAndRuns) {
  TempDir dir;
  make_test_model({2.0f, -3.0f}).write(dir.file("m"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  EXPECT_EQ(h.serve({1.5f, 2.0f}), (std::vector<float>{4.0f, -5.0f})) << h.message();
  EXPECT_EQ(h.serve({0.0f, 0.0f}), (std::vector<float>{1.0f, 1.0f})) << h.message();
}

TEST(Loader, StrippedOpListSuppliesDefaultAttrs) {
  TempDir dir;
  TestModel m = make_test_model();
  // The placeholder loses its shape attr; the model's own op list says the
  // default is [3, 3], which the runtime's registry would not.
  m.graph().mutable_node(1)->mutable_attr()->erase("shape");
  auto* op = m.meta().mutable_meta_info_def()->mutable_stripped_op_list()->add_op();
  op->set_name("Placeholder");
  op->add_output_arg()->set_name("output");
  op->mutable_output_arg(0)->set_type_attr("dtype");
  op->add_attr()->set_name("dtype");
  op->mutable_attr(0)->set_type("type");
  auto* shape = op->add_attr();
  shape->set_name("shape");
  shape->set_type("shape");
  shape->mutable_default_value()->mutable_shape()->add_dim()->set_size(3);
  shape->mutable_default_value()->mutable_shape()->add_dim()->set_size(3);
  m.write(dir.file("m"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  EXPECT_TRUE(h.serve({1.0f, 1.0f}).empty());
  EXPECT_EQ(h.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(h.message().find("[3,3]"), std::string::npos) << h.message();
}

TEST(Loader, ModelWithoutVariablesLoads) {
  TempDir dir;
  TestModel m = make_test_model();
  m.meta().clear_saver_def();
  m.write(dir.file("m"));
  std::filesystem::remove_all(dir.file("m/variables"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  // Nothing restored: reading w fails at run time.
  EXPECT_TRUE(h.serve({1.0f, 1.0f}).empty());
  EXPECT_EQ(h.code(), TF_FAILED_PRECONDITION) << h.message();
}

TEST(Loader, UnreachableFunctionsMayHoldUnknownOps) {
  TempDir dir;
  TestModel m = make_test_model();
  *m.graph().mutable_library()->add_function() = testing::function(
      "__inference_train_step_99", {{"x", tensorflow::DT_FLOAT}}, {{"y", tensorflow::DT_FLOAT}},
      {testing::node("dropout", "RandomUniformQtfUnknown", {"x"})}, {{"y", "dropout:output:0"}});
  m.write(dir.file("m"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  EXPECT_EQ(h.serve({1.0f, 1.0f}).size(), 2u);
}

// Identity nodes id_1..id_n after `first` ("node:out:0"); returns the last reference.
std::string identity_chain(tensorflow::FunctionDef* f, const std::string& first, int n) {
  std::string ref = first;
  for (int k = 1; k <= n; ++k) {
    const std::string name = "id_" + std::to_string(k);
    *f->add_node_def() = testing::node(name, "Identity", {ref}, {{"T", testing::type_attr(tensorflow::DT_FLOAT)}});
    ref = name + ":output:0";
  }
  return ref;
}

TEST(Loader, UnknownOpsInsideFunctionsFailWithOneShortLine) {
  // As TensorFlow 2.1 writes it: the stripped op list holds only the outer
  // graph's ops, so nothing describes the unknown ops' outputs, and a long
  // chain of consumers depends on them.
  TempDir dir;
  TestModel m = make_test_model();
  tensorflow::FunctionDef* f = m.function("__inference_model_10");
  f->mutable_node_def(1)->set_op("QtfFancyMatMul");
  f->mutable_node_def(3)->set_op("QtfOtherOp");
  (*f->mutable_ret())["identity"] = identity_chain(f, "add:z:0", 300);
  m.meta().mutable_meta_info_def()->mutable_stripped_op_list()->Clear();
  m.write(dir.file("m"));
  Handles h(dir.file("m"));
  EXPECT_EQ(h.session(), nullptr);
  EXPECT_EQ(h.code(), TF_UNIMPLEMENTED);
  EXPECT_EQ(h.message(),
            "unsupported ops: QtfFancyMatMul (1, node 'mul' in '__inference_model_10'), "
            "QtfOtherOp (1, node 'add' in '__inference_model_10')");
}

TEST(Loader, UncheckedSignatureWithUnknownOpFailsShortlyWhenRun) {
  TempDir dir;
  TestModel m = make_test_model();
  tensorflow::FunctionDef other = testing::function(
      "__inference_other_40", {{"x", tensorflow::DT_FLOAT}}, {{"y", tensorflow::DT_FLOAT}},
      {testing::node("odd", "QtfStrangeOp", {"x"})}, {});
  (*other.mutable_ret())["y"] = identity_chain(&other, "odd:y:0", 300);
  *m.graph().mutable_library()->add_function() = other;
  *m.graph().add_node() = testing::call("StatefulPartitionedCall_9", "__inference_other_40",
                                        {"serving_default_x"}, {tensorflow::DT_FLOAT}, {tensorflow::DT_FLOAT});
  (*(*m.meta().mutable_signature_def())["other"].mutable_outputs())["y"].set_name("StatefulPartitionedCall_9:0");
  m.write(dir.file("m"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  TF_Output in{TF_GraphOperationByName(h.graph(), "serving_default_x"), 0};
  TF_Output out{TF_GraphOperationByName(h.graph(), "StatefulPartitionedCall_9"), 0};
  float x[2] = {1.0f, 2.0f};
  const int64_t dims[] = {1, 2};
  TF_Tensor* t = TF_NewTensor(TF_FLOAT, dims, 2, x, 8, [](void*, size_t, void*) {}, nullptr);
  TF_Tensor* result = nullptr;
  TF_SessionRun(h.session(), nullptr, &in, &t, 1, &out, &result, 1, nullptr, 0, nullptr, h.status());
  TF_DeleteTensor(t);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(h.code(), TF_UNIMPLEMENTED);
  // The cause once, not once per node of the chain.
  EXPECT_NE(h.message().find("QtfStrangeOp"), std::string::npos) << h.message();
  EXPECT_LT(h.message().size(), 300u) << h.message();
}

TEST(Loader, NonEmptyGraphIsRejected) {
  TempDir dir;
  make_test_model().write(dir.file("m"));
  Handles h(dir.file("m"));
  ASSERT_EQ(h.code(), TF_OK) << h.message();
  const char* tags[] = {"serve"};
  TF_Session* second = TF_LoadSessionFromSavedModel(h.handles().options, nullptr, dir.file("m").c_str(), tags,
                                                     1, h.graph(), nullptr, h.status());
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(h.code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(h.message(), "Graph is non-empty.");
}

struct FailureCase {
  const char* name;
  std::function<void(TestModel*, const std::string& dir)> damage;  // dir: written model
  TF_Code code;
  std::vector<std::string> message_parts;
};

class LoaderFailureTest : public ::testing::TestWithParam<FailureCase> {};

void flip_byte(const std::string& path, long offset_from_start) {
  std::string bytes = testing::read_whole(path);
  bytes[static_cast<size_t>(offset_from_start)] ^= 0x20;
  testing::write_file(path, bytes);
}

void truncate_to(const std::string& path, size_t size) {
  std::string bytes = testing::read_whole(path);
  bytes.resize(size);
  testing::write_file(path, bytes);
}

TEST_P(LoaderFailureTest, FailsWithPreciseStatus) {
  TempDir dir;
  TestModel m = make_test_model();
  const std::string model_dir = dir.file("m");
  GetParam().damage(&m, "");
  m.write(model_dir);
  GetParam().damage(nullptr, model_dir);
  Handles h(model_dir);
  EXPECT_EQ(h.session(), nullptr);
  EXPECT_EQ(h.code(), GetParam().code) << h.message();
  for (const auto& part : GetParam().message_parts) {
    EXPECT_NE(h.message().find(part), std::string::npos) << "'" << part << "' not in: " << h.message();
  }
}

// Each damage function is called twice: once with the model (before writing)
// and once with the written folder.
INSTANTIATE_TEST_SUITE_P(
    Cases, LoaderFailureTest,
    ::testing::Values(
        FailureCase{"MissingFolder",
                    [](TestModel*, const std::string& d) { if (!d.empty()) std::filesystem::remove_all(d); },
                    TF_NOT_FOUND, {"does not exist"}},
        FailureCase{"MissingSavedModelPb",
                    [](TestModel*, const std::string& d) { if (!d.empty()) std::filesystem::remove(d + "/saved_model.pb"); },
                    TF_NOT_FOUND, {"saved_model.pb"}},
        FailureCase{"TruncatedSavedModelPb",
                    [](TestModel*, const std::string& d) { if (!d.empty()) truncate_to(d + "/saved_model.pb", 100); },
                    TF_DATA_LOSS, {"saved_model.pb"}},
        FailureCase{"NoServeTag",
                    [](TestModel* m, const std::string&) { if (m) m->meta().mutable_meta_info_def()->set_tags(0, "train"); },
                    TF_NOT_FOUND, {"serve", "train"}},
        FailureCase{"IndexBadMagic",
                    [](TestModel*, const std::string& d) {
                      if (!d.empty()) {
                        const std::string p = d + "/variables/variables.index";
                        flip_byte(p, static_cast<long>(std::filesystem::file_size(p)) - 3);
                      }
                    },
                    TF_DATA_LOSS, {"variables.index", "magic"}},
        FailureCase{"IndexBlockCrc",
                    [](TestModel*, const std::string& d) { if (!d.empty()) flip_byte(d + "/variables/variables.index", 5); },
                    TF_DATA_LOSS, {"variables.index", "checksum"}},
        FailureCase{"TruncatedIndex",
                    [](TestModel*, const std::string& d) { if (!d.empty()) truncate_to(d + "/variables/variables.index", 30); },
                    TF_DATA_LOSS, {"variables.index"}},
        FailureCase{"DataCrc",
                    [](TestModel*, const std::string& d) { if (!d.empty()) flip_byte(d + "/variables/variables.data-00000-of-00001", 2); },
                    TF_DATA_LOSS, {"w/.ATTRIBUTES/VARIABLE_VALUE", "checksum"}},
        FailureCase{"TruncatedData",
                    [](TestModel*, const std::string& d) { if (!d.empty()) truncate_to(d + "/variables/variables.data-00000-of-00001", 4); },
                    TF_DATA_LOSS, {"variables.data-00000-of-00001"}},
        FailureCase{"MissingDataShard",
                    [](TestModel*, const std::string& d) { if (!d.empty()) std::filesystem::remove(d + "/variables/variables.data-00000-of-00001"); },
                    TF_NOT_FOUND, {"variables.data-00000-of-00001"}},
        FailureCase{"EntrySizeNotMatchingShape",
                    [](TestModel* m, const std::string&) {
                      if (m) m->checkpoint.entry("w/.ATTRIBUTES/VARIABLE_VALUE").mutable_shape()->mutable_dim(0)->set_size(3);
                    },
                    TF_DATA_LOSS, {"does not match shape"}},
        FailureCase{"CheckpointKeyMissing",
                    [](TestModel* m, const std::string&) {
                      if (m) m->function("__inference__traced_restore_30")->mutable_node_def(0)->mutable_attr()->at("value").mutable_tensor()->set_string_val(0, "v/.ATTRIBUTES/VARIABLE_VALUE");
                    },
                    TF_NOT_FOUND, {"v/.ATTRIBUTES/VARIABLE_VALUE"}},
        FailureCase{"UnknownOpOnServingPath",
                    [](TestModel* m, const std::string&) {
                      if (m) m->function("__inference_model_10")->mutable_node_def(1)->set_op("QtfFancyMatMul");
                    },
                    TF_UNIMPLEMENTED, {"QtfFancyMatMul", "mul", "__inference_model_10"}},
        FailureCase{"UnknownOpInRestore",
                    [](TestModel* m, const std::string&) {
                      if (m) m->function("__inference__traced_restore_30")->mutable_node_def(3)->set_op("QtfStrangeIdentity");
                    },
                    TF_UNIMPLEMENTED, {"QtfStrangeIdentity", "restore"}},
        FailureCase{"ReferenceVariables",
                    [](TestModel* m, const std::string&) {
                      if (m) {
                        *m->graph().add_node() = testing::node("v1", "VariableV2", {}, {{"dtype", testing::type_attr(tensorflow::DT_FLOAT)}});
                        m->graph().mutable_node(3)->add_input("^v1");  // the init op
                      }
                    },
                    TF_UNIMPLEMENTED, {"VariableV2", "v1"}},
        FailureCase{"SignatureNamesMissingNode",
                    [](TestModel* m, const std::string&) {
                      if (m) (*m->meta().mutable_signature_def())["serving_default"].mutable_outputs()->at("output_0").set_name("Gone:0");
                    },
                    TF_NOT_FOUND, {"Gone:0", "serving_default"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Damaged copies of the real model, whose index uses Snappy blocks.

TEST(LoaderFixture, DamagedCopiesFailWithDataLoss) {
  const std::string fixture =
      std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/half_plus_two_tf2";
  if (!std::filesystem::exists(fixture + "/saved_model.pb")) GTEST_SKIP() << "fixture absent";
  const struct {
    const char* file;
    long offset;  // negative: from the end
    const char* message_part;
  } cases[] = {
      {"variables/variables.index", 10, "variables.index"},
      {"variables/variables.index", -2, "magic"},
      {"variables/variables.data-00000-of-00001", 1, "checksum"},
      {"saved_model.pb", -1, ""},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string copy = dir.file("m");
    std::filesystem::copy(fixture, copy, std::filesystem::copy_options::recursive);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(copy)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    const std::string path = copy + "/" + c.file;
    if (std::string(c.file) == "saved_model.pb") {
      truncate_to(path, std::filesystem::file_size(path) / 2);
    } else {
      const long size = static_cast<long>(std::filesystem::file_size(path));
      flip_byte(path, c.offset < 0 ? size + c.offset : c.offset);
    }
    Handles h(copy);
    EXPECT_EQ(h.session(), nullptr) << c.file;
    EXPECT_EQ(h.code(), TF_DATA_LOSS) << c.file << ": " << h.message();
    EXPECT_NE(h.message().find(c.message_part), std::string::npos) << h.message();
  }
}

}  // namespace
}  // namespace qtf
