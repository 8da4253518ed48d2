// Model sessions and the image loop, observed through recording stand-ins for
// the C API functions the driver calls and for process_image (defined here,
// they take precedence over the libraries' own).
#include <cereal/archives/json.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/process_image.h"
#include "driver/image_run.h"
#include "driver/model_sessions.h"
#include "process_runner.h"

struct TF_SessionOptions {
  int id;
};
struct TF_Graph {
  int id;
};
struct TF_Status {
  int id;
  TF_Code code;
};
struct TF_Session {
  int id;
};

namespace {

std::vector<std::string> calls;
std::vector<std::string> failing_paths;  // loads of these paths fail
int next_id = 1;

// Every handle the stand-ins hand out, owned here so that a test ends with
// none lost whatever the code under test releases. The Delete stand-ins only
// record their calls: the call list is what tells a release from a leak.
std::vector<std::shared_ptr<void>> handles;

template <typename T, typename... Fields>
T* new_handle(Fields... fields) {
  std::shared_ptr<T> handle(new T{fields...});
  handles.push_back(handle);
  return handle.get();
}

std::string name(const char* kind, int id) { return std::string(kind) + std::to_string(id); }

}  // namespace

extern "C" {

TF_SessionOptions* TF_NewSessionOptions(void) {
  auto* options = new_handle<TF_SessionOptions>(next_id++);
  calls.push_back("NewSessionOptions " + name("o", options->id));
  return options;
}

void TF_SetConfig(TF_SessionOptions* options, const void* proto, size_t proto_len,
                  TF_Status* status) {
  std::string bytes;
  for (size_t i = 0; i < proto_len; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<const unsigned char*>(proto)[i]);
    bytes += hex;
  }
  calls.push_back("SetConfig " + name("o", options->id) + " " + bytes + " " +
                  name("s", status->id));
}

void TF_DeleteSessionOptions(TF_SessionOptions* options) {
  calls.push_back("DeleteSessionOptions " + name("o", options->id));
}

TF_Graph* TF_NewGraph(void) {
  auto* graph = new_handle<TF_Graph>(next_id++);
  calls.push_back("NewGraph " + name("g", graph->id));
  return graph;
}

void TF_DeleteGraph(TF_Graph* graph) {
  calls.push_back("DeleteGraph " + name("g", graph->id));
}

TF_Status* TF_NewStatus(void) {
  auto* status = new_handle<TF_Status>(next_id++, TF_OK);
  calls.push_back("NewStatus " + name("s", status->id));
  return status;
}

void TF_DeleteStatus(TF_Status* status) { calls.push_back("DeleteStatus " + name("s", status->id)); }

TF_Code TF_GetCode(const TF_Status* status) {
  calls.push_back("GetCode " + name("s", status->id));
  return status->code;
}

TF_Session* TF_LoadSessionFromSavedModel(const TF_SessionOptions* options,
                                         const TF_Buffer* run_options, const char* export_dir,
                                         const char* const* tags, int tags_len, TF_Graph* graph,
                                         TF_Buffer* meta_graph_def, TF_Status* status) {
  std::string call = "Load " + name("o", options->id) + " " + export_dir + " [";
  for (int i = 0; i < tags_len; ++i) call += std::string(i ? "," : "") + tags[i];
  call += "] " + name("g", graph->id) + " " + name("s", status->id);
  if (run_options != nullptr) call += " run_options";
  if (meta_graph_def != nullptr) call += " meta_graph";
  calls.push_back(call);
  for (const std::string& path : failing_paths) {
    if (path == export_dir) {
      status->code = TF_NOT_FOUND;
      return nullptr;
    }
  }
  status->code = TF_OK;
  return new_handle<TF_Session>(next_id++);
}

void TF_DeleteSession(TF_Session* session, TF_Status* status) {
  calls.push_back("DeleteSession " + name("x", session->id) + " " + name("s", status->id));
}

}  // extern "C"

namespace quarrow {

// The per-image analysis stand-in: records its arguments, marks the record
// as analysed, and fails for the uuids listed.
std::vector<std::string> failing_images;

bool process_image(ImageRecord& record, const std::string& image_path,
                   ModelSession& sky_session, ModelSession& ground_session,
                   ModelSession& indoor_depth_session, ModelSession& outdoor_depth_session,
                   const std::string& segm_folder, const std::string& depthmap_folder) {
  calls.push_back("process " + image_path + " " + name("x", sky_session.session->id) + " " +
                  name("x", ground_session.session->id) + " " +
                  name("x", indoor_depth_session.session->id) + " " +
                  name("x", outdoor_depth_session.session->id) + " " + segm_folder + " " +
                  depthmap_folder);
  record.is_outdoor = true;
  record.sky_ratio = 99.5f;
  for (const std::string& uuid : failing_images) {
    if (uuid == record.uuid) return false;
  }
  return true;
}

namespace {

class ModelSessionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    failing_paths.clear();
    failing_images.clear();
    next_id = 1;
    handles.clear();
  }
  void TearDown() override { handles.clear(); }

  // The calls of one model's load: ids o<n>, g<n+1>, s<n+2>, session x<n+3>
  // when it loads.
  static std::vector<std::string> load_calls(int first_id, const std::string& path) {
    const std::string o = name("o", first_id), g = name("g", first_id + 1),
                      s = name("s", first_id + 2);
    return {"NewSessionOptions " + o, "NewGraph " + g, "NewStatus " + s,
            "SetConfig " + o + " 32022001 " + s,
            "Load " + o + " " + path + " [serve] " + g + " " + s};
  }
};

TEST_F(ModelSessionsTest, LoadUsesConfigTagAndNativePath) {
  const ModelSession model = load_model_session("models\\sky_segm_model");
  EXPECT_EQ(calls, load_calls(1, "models/sky_segm_model"));
  ASSERT_NE(model.options, nullptr);
  EXPECT_EQ(model.options->id, 1);
  EXPECT_EQ(model.graph->id, 2);
  EXPECT_EQ(model.status->id, 3);
  ASSERT_NE(model.session, nullptr);
  EXPECT_EQ(model.session->id, 4);
  EXPECT_EQ(model.status->code, TF_OK);
}

TEST_F(ModelSessionsTest, FailedLoadLeavesCodeInStatus) {
  failing_paths = {"m/x"};
  const ModelSession model = load_model_session("m\\x");
  EXPECT_EQ(model.session, nullptr);
  EXPECT_EQ(model.status->code, TF_NOT_FOUND);
}

TEST_F(ModelSessionsTest, ReleaseOrderAndStatusesKept) {
  const auto made = [](int id) {
    return ModelSession{new_handle<TF_SessionOptions>(id), new_handle<TF_Graph>(id + 1),
                        new_handle<TF_Status>(id + 2, TF_OK), new_handle<TF_Session>(id + 3)};
  };
  ModelSession sky = made(1), ground = made(11), indoor = made(21), outdoor = made(31);
  release_model_sessions(sky, ground, indoor, outdoor);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "DeleteGraph g2", "DeleteGraph g12", "DeleteGraph g22", "DeleteGraph g32",
                       "DeleteSession x4 s3", "DeleteSession x14 s13", "DeleteSession x24 s23",
                       "DeleteSession x34 s33", "DeleteSessionOptions o1",
                       "DeleteSessionOptions o11", "DeleteSessionOptions o21",
                       "DeleteSessionOptions o31"}));
  for (ModelSession* model : {&sky, &ground, &indoor, &outdoor}) {
    EXPECT_NE(model->status, nullptr);  // lives on to the end of the process
  }
}

class RunOrderTest : public ModelSessionsTest {
 protected:
  void SetUp() override {
    ModelSessionsTest::SetUp();
    paths_.sky_segm_model_path = "M\\sky_segm_model";
    paths_.indoor_depth_model_path = "M\\indoor_depth_model";
    paths_.outdoor_depth_model_path = "M\\outdoor_depth_model";
    paths_.ground_segm_model_path = "M\\ground_segm_model";
    paths_.caches_folder = testing::backslashed(tmp_.path()) + "\\";
    paths_.images_folder = paths_.caches_folder + "images\\";
    paths_.segm_folder = paths_.caches_folder + "segm\\";
    paths_.depthmap_folder = paths_.caches_folder + "depthmap\\";
    paths_.images_json_path = paths_.caches_folder + "images.json";
    paths_.outdoor_flag_json_path = paths_.caches_folder + "outdoor_flag.json";
    std::filesystem::create_directory(tmp_.path() + "/images");
  }

  int run(const std::string& images_json, std::string& err) {
    testing::write_file(tmp_.path() + "/images.json", images_json);
    ::testing::internal::CaptureStderr();
    const int code = run_images(paths_);
    err = ::testing::internal::GetCapturedStderr();
    return code;
  }

  // Loads of sky, indoor depth, outdoor depth and ground, each followed by
  // the test of its code, up to and including model `count`.
  static std::vector<std::string> opened(int count) {
    const char* const models[] = {"M/sky_segm_model", "M/indoor_depth_model",
                                  "M/outdoor_depth_model", "M/ground_segm_model"};
    std::vector<std::string> expected;
    int id = 1;
    for (int i = 0; i < count; ++i) {
      for (const std::string& call : load_calls(id, models[i])) expected.push_back(call);
      expected.push_back("GetCode " + name("s", id + 2));
      id += 4;
    }
    return expected;
  }

  // Models: sky 1-4, indoor depth 5-8, outdoor depth 9-12, ground 13-16;
  // released in the order sky, ground, indoor depth, outdoor depth.
  static std::vector<std::string> released() {
    return {"DeleteGraph g2",          "DeleteGraph g14",         "DeleteGraph g6",
            "DeleteGraph g10",         "DeleteSession x4 s3",     "DeleteSession x16 s15",
            "DeleteSession x8 s7",     "DeleteSession x12 s11",   "DeleteSessionOptions o1",
            "DeleteSessionOptions o13", "DeleteSessionOptions o5", "DeleteSessionOptions o9"};
  }

  testing::TempDir tmp_;
  RunPaths paths_;
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const char kNoMainRecords[] = R"({"images": [{"uuid": "a", "id": 1, "is_main": false}]})";

TEST_F(RunOrderTest, EachLoadIsTestedBeforeTheNext) {
  const char* const models[] = {"M/sky_segm_model", "M/indoor_depth_model",
                                "M/outdoor_depth_model", "M/ground_segm_model"};
  for (int failing = 0; failing < 4; ++failing) {
    SCOPED_TRACE(models[failing]);
    SetUp();
    failing_paths = {models[failing]};
    std::string err;
    EXPECT_EQ(run(kNoMainRecords, err), 1);
    EXPECT_EQ(err, "Error: loading saved_model failed.\n");
    EXPECT_EQ(calls, opened(failing + 1));  // nothing released, nothing more opened
  }
}

TEST_F(RunOrderTest, BadRecordsEndTheRunBeforeAnyModel) {
  std::string err;
  EXPECT_EQ(run(R"({"images": 5})", err), 1);
  EXPECT_EQ(err, "rapidjson internal assertion failure: IsObject()\n");
  EXPECT_TRUE(calls.empty());
}

TEST_F(RunOrderTest, EmptyListIsRejectedAfterAllLoads) {
  std::string err;
  EXPECT_EQ(run(R"({"images": []})", err), 1);
  EXPECT_EQ(err, "Error: no images found by parsing images.json\n");
  EXPECT_EQ(calls, opened(4));
}

TEST_F(RunOrderTest, CompleteRunReleasesAfterWriting) {
  std::string err;
  EXPECT_EQ(run(kNoMainRecords, err), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(calls, opened(4) + released());
  EXPECT_NE(testing::read_file(tmp_.path() + "/outdoor_flag.json").find("\"uuid\": \"a\""),
            std::string::npos);
}

TEST_F(RunOrderTest, LoopVisitsMainRecordsWithFilesInStoredOrder) {
  std::filesystem::create_directory(tmp_.path() + "/images/e.jpg");
  for (const char* file : {"c.jpg", "a.jpg", "d.jpg"}) {
    testing::write_file(tmp_.path() + "/images/" + file, "x");
  }
  std::string err;
  EXPECT_EQ(run(R"({"images": [
      {"uuid": "c", "id": 1, "is_main": true},
      {"uuid": "b", "id": 2, "is_main": true, "is_outdoor": false, "sky_ratio": 4},
      {"uuid": "a", "id": 3, "is_main": true},
      {"uuid": "d", "id": 4, "is_main": false},
      {"uuid": "e", "id": 5, "is_main": true}]})",
                err),
            0);
  EXPECT_EQ(err, "");
  const std::string rest =
      " x4 x16 x8 x12 " + paths_.segm_folder + " " + paths_.depthmap_folder;
  EXPECT_EQ(calls, (opened(4) +
                       std::vector<std::string>{"process " + paths_.images_folder + "c.jpg" + rest,
                                                "process " + paths_.images_folder + "a.jpg" + rest} +
                       released()));
  const std::string json = testing::read_file(tmp_.path() + "/outdoor_flag.json");
  EXPECT_NE(json.find(R"("uuid": "c",
            "id": 1,
            "is_outdoor": true,
            "sky_ratio": 99.5,)"),
            std::string::npos);
  EXPECT_NE(json.find(R"("uuid": "b",
            "id": 2,
            "is_outdoor": false,
            "sky_ratio": 4.0,)"),
            std::string::npos);
  EXPECT_NE(json.find(R"("uuid": "d",
            "id": 4,
            "is_outdoor": false,
            "sky_ratio": 0.0,)"),
            std::string::npos);
}

TEST_F(RunOrderTest, FailedImageStillWritesAndReleasesThenEndsWithOne) {
  for (const char* file : {"a.jpg", "b.jpg"}) {
    testing::write_file(tmp_.path() + "/images/" + file, "x");
  }
  failing_images = {"a"};
  std::string err;
  EXPECT_EQ(run(R"({"images": [{"uuid": "a", "id": 1, "is_main": true},
                                {"uuid": "b", "id": 2, "is_main": true}]})",
                err),
            1);
  EXPECT_EQ(err, "");  // process_image prints its own line
  const std::string rest =
      " x4 x16 x8 x12 " + paths_.segm_folder + " " + paths_.depthmap_folder;
  EXPECT_EQ(calls, (opened(4) +
                       std::vector<std::string>{"process " + paths_.images_folder + "a.jpg" + rest,
                                                "process " + paths_.images_folder + "b.jpg" + rest} +
                       released()));
  EXPECT_TRUE(std::filesystem::exists(tmp_.path() + "/outdoor_flag.json"));
}

TEST_F(RunOrderTest, FailedWriteReleasesNothing) {
  paths_.outdoor_flag_json_path = paths_.caches_folder + "missing\\outdoor_flag.json";
  std::string err;
  EXPECT_EQ(run(kNoMainRecords, err), 1);
  EXPECT_EQ(err, "Error: file " + paths_.outdoor_flag_json_path + " can't be written\n");
  EXPECT_EQ(calls, opened(4));
}

}  // namespace
}  // namespace quarrow
