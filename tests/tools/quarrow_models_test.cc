// The quarrow-models command run as a process: inspect, run and check on
// models written in the test, bad arguments, and the real TensorFlow export.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "npy.h"
#include "savedmodel_writer.h"
#include "test_models.h"
#include "tool_process.h"

namespace {

using quarrow::models::testing::read_file;
using quarrow::models::testing::Result;
using quarrow::models::testing::run_tool;

std::string temp(const std::string& name) { return ::testing::TempDir() + "/" + std::to_string(getpid()) + "_qmodels_" + name; }

void write_floats(const std::string& path, std::vector<int64_t> shape, const std::vector<float>& v) {
  quarrow::models::NpyArray a;
  a.dtype = TF_FLOAT;
  a.shape = std::move(shape);
  a.data.assign(reinterpret_cast<const char*>(v.data()), v.size() * 4);
  std::string error;
  ASSERT_TRUE(quarrow::models::write_npy(path, a, &error)) << error;
}

std::vector<float> read_floats(const std::string& path, std::vector<int64_t>* shape) {
  quarrow::models::NpyArray a;
  std::string error;
  EXPECT_TRUE(quarrow::models::read_npy(path, &a, &error)) << error;
  EXPECT_EQ(a.dtype, TF_FLOAT);
  *shape = a.shape;
  std::vector<float> v(a.data.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), a.data.data(), a.data.size());
  return v;
}

TEST(QuarrowModels, BadArgumentsPrintUsageAndExit2) {
  const char* cases[] = {"", "frobnicate x", "inspect", "inspect a b", "check", "run",
                         "run dir --input", "run dir --output noequals", "run dir --input a=b.npy",
                         "run dir --bogus a=b"};
  for (const char* args : cases) {
    const Result r = run_tool(args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
  }
  EXPECT_EQ(run_tool("--help").code, 0);
}

TEST(QuarrowModels, InspectAndRunAWrittenModel) {
  qsm::ModelBuilder b;
  qsm::Output x = b.input("x", TF_FLOAT, {-1});
  b.output("y", b.op("AddV2", {b.op("Mul", {x, b.variable("scale", {1}, {3.0f})}), b.constant(1.0f)}), {-1});
  const std::string dir = temp("affine");
  ASSERT_TRUE(b.save(dir).is_ok());

  Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* part : {"tags serve", "signature \"serving_default\"", "input  x: float [?] at serving_default_x:0",
                           "output y: float [?] at StatefulPartitionedCall:0", "AddV2", "Mul", "ReadVariableOp",
                           "RestoreV2", "scale/.ATTRIBUTES/VARIABLE_VALUE: float [1]",
                           "_CHECKPOINTABLE_OBJECT_GRAPH: string []"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }

  write_floats(temp("x.npy"), {3}, {1.0f, -2.0f, 0.5f});
  r = run_tool("run " + dir + " --input serving_default_x:0=" + temp("x.npy") +
               " --output StatefulPartitionedCall=" + temp("y.npy"));
  ASSERT_EQ(r.code, 0) << r.err;
  std::vector<int64_t> shape;
  EXPECT_EQ(read_floats(temp("y.npy"), &shape), (std::vector<float>{4.0f, -5.0f, 2.5f}));
  EXPECT_EQ(shape, (std::vector<int64_t>{3}));

  // Errors name the op or the file.
  r = run_tool("run " + dir + " --input nosuchop:0=" + temp("x.npy") + " --output StatefulPartitionedCall=" +
               temp("y.npy"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("nosuchop"), std::string::npos) << r.err;
  r = run_tool("run " + dir + " --input serving_default_x=" + temp("missing.npy") + " --output y=" + temp("y.npy"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing.npy"), std::string::npos) << r.err;
  r = run_tool("inspect " + temp("nowhere"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("nowhere/saved_model.pb"), std::string::npos) << r.err;
}

TEST(QuarrowModels, CheckPassesAContractFolder) {
  const std::string folder = temp("good_models");
  ASSERT_TRUE(qsm::write_model_folder(folder).is_ok());
  const Result r = run_tool("check " + folder);
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  for (const char* name : {"sky_segm_model", "ground_segm_model", "indoor_depth_model", "outdoor_depth_model"}) {
    EXPECT_NE(r.out.find(name), std::string::npos) << name;
  }
  EXPECT_NE(r.out.find("float [1,1,256,512] 524288 bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("float [1,256,512,1] 524288 bytes"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
}

TEST(QuarrowModels, CheckFailsBrokenFolders) {
  struct Case {
    const char* what;
    void (*spoil)(const std::string& folder);
    const char* failing_model;
    const char* message_part;
  } cases[] = {
      {"depth output shaped like a mask",
       [](const std::string& f) { ASSERT_TRUE(qsm::write_segmentation_model(f + "/indoor_depth_model", {0, 1, 0, "inputs"}).is_ok()); },
       "indoor_depth_model", "output shape [1,256,512,1], expected [1,1,256,512]"},
      {"missing input op",
       [](const std::string& f) { ASSERT_TRUE(qsm::write_model_without_contract_input(f + "/ground_segm_model").is_ok()); },
       "ground_segm_model", "serving_default_input"},
      {"run fails",
       [](const std::string& f) { ASSERT_TRUE(qsm::write_failing_model(f + "/sky_segm_model").is_ok()); },
       "sky_segm_model", "run failed"},
      {"model missing",
       [](const std::string& f) { std::remove((f + "/outdoor_depth_model/saved_model.pb").c_str()); },
       "outdoor_depth_model", "load failed"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = temp("bad_models_" + std::to_string(n++));
    ASSERT_TRUE(qsm::write_model_folder(folder).is_ok());
    c.spoil(folder);
    const Result r = run_tool("check " + folder);
    EXPECT_EQ(r.code, 1) << c.what;
    EXPECT_NE(r.err.find(std::string(c.failing_model) + ": "), std::string::npos) << c.what << ": " << r.err;
    EXPECT_NE(r.out.find(c.message_part), std::string::npos) << c.what << ": " << r.out;
    EXPECT_NE(r.out.find("1 of 4 models fail"), std::string::npos) << c.what << ": " << r.out;
  }
}

TEST(QuarrowModels, RealExportRunsAndInspects) {
  const std::string dir = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/half_plus_two_tf2";
  if (read_file(dir + "/saved_model.pb").empty()) GTEST_SKIP() << "fixture not present";
  Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* part : {"signature \"serving_default\"", "signature \"regress_x2_to_y3\"",
                           "a/.ATTRIBUTES/VARIABLE_VALUE: float []", "at StatefulPartitionedCall_5:0"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  struct Case {
    bool feed;
    float x, y;
  } cases[] = {{true, 1.0f, 2.5f}, {true, -4.0f, 0.0f}, {true, 3.0f, 3.5f}, {false, 0, 2.0f}};
  for (const Case& c : cases) {
    write_floats(temp("fx.npy"), {1}, {c.x});
    const std::string feed = c.feed ? " --input serving_default_x:0=" + temp("fx.npy") : "";
    r = run_tool("run " + dir + feed + " --output StatefulPartitionedCall_5:0=" + temp("fy.npy"));
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<int64_t> shape;
    EXPECT_EQ(read_floats(temp("fy.npy"), &shape), (std::vector<float>{c.y})) << c.x;
  }
}

TEST(QuarrowModels, InspectListsTheOpsOfTheOnnxTfExport) {
  const std::string dir = std::string(QUARROW_SHARED_DIR) + "/fixtures/savedmodels/onnxtf_mcunet_tf211";
  if (read_file(dir + "/saved_model.pb").empty()) GTEST_SKIP() << "fixture not present";
  const Result r = run_tool("inspect " + dir);
  ASSERT_EQ(r.code, 0) << r.err;
  // Counts over the serving function and the restore and init runs.
  const struct {
    const char* op;
    int count;
  } rows[] = {{"Transpose", 163}, {"Conv2D", 36}, {"Pad", 19}, {"DepthwiseConv2dNative", 18},
              {"PartitionedCall", 2}, {"MatMul", 1}};
  EXPECT_NE(r.out.find("input  input: float [?,3,160,160] at serving_default_input:0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("serving path ops (17, 0 unsupported):\n"), std::string::npos) << r.out;
  for (const auto& row : rows) {
    const std::string n = std::to_string(row.count);
    const std::string line = "    " + std::string(row.op) + std::string(32 - std::strlen(row.op), ' ') +
                             std::string(5 - n.size(), ' ') + n + "\n";
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
}

}  // namespace
