// LoadedModel, the one C API model wrapper of the tools, tests and benches:
// tensor names, load and run failures with their messages, reloading, and the
// contract's names as the writer turns them into operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "inference/network_contract.h"
#include "loaded_model.h"
#include "test_models.h"

namespace {

namespace fs = std::filesystem;

std::string temp(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() /
                       ("quarrow_loaded_model_" + name + "_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  return dir.string();
}

TEST(SplitTensorName, TakesOnlyANumericSuffixAsTheIndex) {
  const struct {
    const char* name;
    const char* op;
    int index;
  } cases[] = {
      {"op", "op", 0},
      {"op:3", "op", 3},
      {"scope/op:12", "scope/op", 12},
      {"a:b:7", "a:b", 7},        // the last colon counts
      {"op:", "op:", 0},          // nothing after the colon
      {"op:x1", "op:x1", 0},      // not a number
      {"op:-1", "op:-1", 0},      // no sign
      {"op:12345678", "op", 12345678},
      {"op:123456789", "op:123456789", 0},  // too long to be an index
  };
  for (const auto& c : cases) {
    std::string op;
    int index = -1;
    quarrow::split_tensor_name(c.name, &op, &index);
    EXPECT_EQ(op, c.op) << c.name;
    EXPECT_EQ(index, c.index) << c.name;
  }
}

TEST(LoadedModel, MissingFolderFailsWithItsNameAndKeepsAnEmptyGraph) {
  const std::string dir = temp("missing");
  quarrow::LoadedModel model(dir);
  EXPECT_FALSE(model.loaded());
  EXPECT_EQ(model.session(), nullptr);
  ASSERT_NE(model.graph(), nullptr);
  EXPECT_NE(TF_GetCode(model.status()), TF_OK);
  EXPECT_EQ(model.error().rfind(dir + ": load failed (code ", 0), 0u) << model.error();

  std::string error;
  TF_Output out{};
  EXPECT_FALSE(model.find_output(quarrow::kOutputOperation, &out, &error));
  EXPECT_EQ(error, std::string("no operation '") + quarrow::kOutputOperation + "' in " + dir);

  std::vector<TF_Tensor*> outputs{reinterpret_cast<TF_Tensor*>(&out)};
  EXPECT_FALSE(model.run({}, {}, {out}, &outputs, &error));
  EXPECT_EQ(error, dir + ": not loaded");
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0], nullptr);  // never a stale pointer left for the caller to free
}

TEST(LoadedModel, RejectedConfigIsReportedBeforeLoading) {
  const std::string dir = temp("config");
  ASSERT_TRUE(qsm::write_segmentation_model(dir).is_ok());
  quarrow::LoadedModel model;
  std::string error;
  // Field 1 as a varint whose bytes run out: not a ConfigProto.
  EXPECT_FALSE(model.load(dir, std::string("\x08\xff", 2), &error));
  EXPECT_EQ(error.rfind(dir + ": session config rejected: ", 0), 0u) << error;
  EXPECT_EQ(model.error(), error);
  EXPECT_FALSE(model.loaded());
  fs::remove_all(dir);
}

// A contract model runs through the names the contract gives it, and a run
// that fails reports the folder and frees what it fetched.
TEST(LoadedModel, RunsAContractModelAndReportsAFailingRun) {
  const std::string folder = temp("folder");
  ASSERT_TRUE(qsm::write_model_folder(folder).is_ok());
  const std::string sky = folder + "/" + quarrow::kSkyModelFolder;
  quarrow::LoadedModel model(sky);
  ASSERT_TRUE(model.loaded()) << model.error();
  EXPECT_TRUE(model.error().empty());

  std::string error;
  TF_Output in{}, out{};
  ASSERT_TRUE(model.find_output(quarrow::kSegmentationInputOperation, &in, &error)) << error;
  ASSERT_TRUE(model.find_output(std::string(quarrow::kOutputOperation) + ":0", &out, &error)) << error;
  EXPECT_EQ(out.index, 0);

  // The default sky model scores channel 2 of a [1, 1, 2, 3] image.
  const int64_t dims[] = {1, 1, 2, 3};
  const float pixels[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  TF_Tensor* input = TF_AllocateTensor(TF_FLOAT, dims, 4, sizeof(pixels));
  std::memcpy(TF_TensorData(input), pixels, sizeof(pixels));
  std::vector<TF_Tensor*> outputs;
  ASSERT_TRUE(model.run({in}, {input}, {out}, &outputs, &error)) << error;
  ASSERT_EQ(outputs.size(), 1u);
  ASSERT_EQ(TF_TensorByteSize(outputs[0]), 2 * sizeof(float));
  const auto* scores = static_cast<const float*>(TF_TensorData(outputs[0]));
  EXPECT_EQ(scores[0], 0.3f);
  EXPECT_EQ(scores[1], 0.6f);
  TF_DeleteTensor(outputs[0]);
  TF_DeleteTensor(input);

  // The depth model needs the full network size; a tiny image fails its run.
  ASSERT_TRUE(model.load(folder + "/" + quarrow::kIndoorDepthModelFolder, "", &error)) << error;
  EXPECT_FALSE(model.find_output(quarrow::kSegmentationInputOperation, &in, &error));
  ASSERT_TRUE(model.find_output(quarrow::kDepthInputOperation, &in, &error)) << error;
  ASSERT_TRUE(model.find_output(quarrow::kOutputOperation, &out, &error)) << error;
  input = TF_AllocateTensor(TF_FLOAT, dims, 4, sizeof(pixels));
  std::memcpy(TF_TensorData(input), pixels, sizeof(pixels));
  EXPECT_FALSE(model.run({in}, {input}, {out}, &outputs, &error));
  EXPECT_EQ(error.rfind(folder + "/" + quarrow::kIndoorDepthModelFolder + ": run failed (code ", 0), 0u)
      << error;
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(outputs[0], nullptr);
  TF_DeleteTensor(input);
  fs::remove_all(folder);
}

}  // namespace
