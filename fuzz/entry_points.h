// The two code paths the fuzzers drive, as plain functions returning the
// status the runtime reported, so a regression test can replay a saved input
// through exactly the same steps and check for a clean error.
//
//   run_saved_model_input: sections [saved_model.pb, variables.index, data shard]
//     -> <dir>/saved_model.pb (+ <dir>/variables/) -> TF_LoadSessionFromSavedModel
//     -> one TF_SessionRun of serving_default on a small feed when it loads.
//   run_checkpoint_input: sections [variables.index, data shard]
//     -> BundleReader::open -> read every key.
//
// Index sections get their block checksums repaired before they are written.
#pragma once

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "checkpoint/bundle_reader.h"
#include "core/status.h"
#include "fuzz_input.h"
#include "saved_model.pb.h"
#include "tensorflow/c/c_api.h"

namespace qfuzz {

// Feeds larger than this are not built: the point is reaching the kernels,
// not spending the fuzzer's time in them.
inline constexpr int64_t kMaxFeedElements = 1 << 14;

// Writes the checkpoint sections as <prefix>.index and the single data shard.
inline bool write_checkpoint(const std::vector<std::string>& sections, size_t first,
                             const std::string& prefix) {
  if (sections.size() <= first) return true;
  std::string index = sections[first];
  repair_table_checksums(&index);
  if (!write_bytes(prefix + ".index", index)) return false;
  if (sections.size() > first + 1 &&
      !write_bytes(qtf::bundle_data_path(prefix, 0, 1), sections[first + 1])) {
    return false;
  }
  return true;
}

inline void clear_folder(const std::string& dir) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

inline qtf::Status status_of(const TF_Status* s) {
  return TF_GetCode(s) == TF_OK ? qtf::Status::ok() : qtf::Status(TF_GetCode(s), TF_Message(s));
}

// "node:index" of a TensorInfo as a TF_Output; false if the node is unknown.
inline bool output_of(TF_Graph* graph, const std::string& name, TF_Output* out) {
  const size_t colon = name.rfind(':');
  std::string op = name;
  int index = 0;
  if (colon != std::string::npos) {
    op = name.substr(0, colon);
    index = std::atoi(name.c_str() + colon + 1);
  }
  TF_Operation* oper = TF_GraphOperationByName(graph, op.c_str());
  if (oper == nullptr) return false;
  *out = TF_Output{oper, index};
  return true;
}

// A zero-filled tensor for a signature input: unknown dimensions become 1.
// Null when the type has no fixed size or the tensor would be too large.
inline TF_Tensor* small_feed(const tensorflow::TensorInfo& info) {
  const auto dtype = static_cast<TF_DataType>(info.dtype());
  if (TF_DataTypeSize(dtype) == 0 || info.tensor_shape().unknown_rank()) return nullptr;
  std::vector<int64_t> dims;
  int64_t count = 1;
  for (const auto& dim : info.tensor_shape().dim()) {
    const int64_t d = dim.size() < 0 ? 1 : dim.size();
    if (d > kMaxFeedElements || count * d > kMaxFeedElements) return nullptr;
    count *= d;
    dims.push_back(d);
  }
  if (dims.size() > 8) return nullptr;
  const size_t bytes = static_cast<size_t>(count) * TF_DataTypeSize(dtype);
  TF_Tensor* t = TF_AllocateTensor(dtype, dims.data(), static_cast<int>(dims.size()), bytes);
  if (t != nullptr && bytes > 0) std::memset(TF_TensorData(t), 0, bytes);
  return t;
}

// Runs serving_default once when every input can be fed. OK when the model
// has no usable signature (nothing to run is not a failure).
inline qtf::Status run_serving_default(TF_Session* session, TF_Graph* graph,
                                       const TF_Buffer* meta_buffer) {
  tensorflow::MetaGraphDef meta;
  if (!meta.ParseFromArray(meta_buffer->data, static_cast<int>(meta_buffer->length))) {
    return qtf::internal_error("The loader returned an unparseable MetaGraphDef");
  }
  const auto sig = meta.signature_def().find("serving_default");
  if (sig == meta.signature_def().end()) return qtf::Status::ok();

  std::vector<TF_Output> inputs, outputs;
  std::vector<TF_Tensor*> feeds;
  bool runnable = true;
  for (const auto& [key, info] : sig->second.inputs()) {
    TF_Output in;
    TF_Tensor* value = nullptr;
    if (!output_of(graph, info.name(), &in) || (value = small_feed(info)) == nullptr) {
      runnable = false;
      break;
    }
    inputs.push_back(in);
    feeds.push_back(value);
  }
  for (const auto& [key, info] : sig->second.outputs()) {
    TF_Output out;
    if (!output_of(graph, info.name(), &out)) runnable = false;
    outputs.push_back(out);
  }
  qtf::Status result;
  if (runnable) {
    std::vector<TF_Tensor*> values(outputs.size(), nullptr);
    TF_Status* status = TF_NewStatus();
    TF_SessionRun(session, nullptr, inputs.data(), feeds.data(), static_cast<int>(inputs.size()),
                  outputs.data(), values.data(), static_cast<int>(outputs.size()), nullptr, 0,
                  nullptr, status);
    result = status_of(status);
    TF_DeleteStatus(status);
    for (TF_Tensor* v : values) {
      if (v != nullptr) TF_DeleteTensor(v);
    }
  }
  for (TF_Tensor* f : feeds) TF_DeleteTensor(f);
  return result;
}

// `dir` must exist; its contents are replaced.
inline qtf::Status run_saved_model_input(const uint8_t* data, size_t size, const std::string& dir) {
  clear_folder(dir);
  const std::vector<std::string> sections = split_sections(data, size);
  if (!write_bytes(dir + "/saved_model.pb", sections[0])) {
    return qtf::internal_error("Cannot write " + dir + "/saved_model.pb");
  }
  if (sections.size() > 1) {
    std::filesystem::create_directory(dir + "/variables");
    if (!write_checkpoint(sections, 1, dir + "/variables/variables")) {
      return qtf::internal_error("Cannot write the checkpoint in " + dir);
    }
  }

  TF_Status* status = TF_NewStatus();
  TF_SessionOptions* options = TF_NewSessionOptions();
  TF_Graph* graph = TF_NewGraph();
  TF_Buffer* meta = TF_NewBuffer();
  const char* tags[] = {"serve"};
  TF_Session* session =
      TF_LoadSessionFromSavedModel(options, nullptr, dir.c_str(), tags, 1, graph, meta, status);
  qtf::Status result = status_of(status);
  if (session != nullptr) {
    if (result.is_ok()) result = run_serving_default(session, graph, meta);
    TF_CloseSession(session, status);
    TF_DeleteSession(session, status);
  }
  TF_DeleteBuffer(meta);
  TF_DeleteGraph(graph);
  TF_DeleteSessionOptions(options);
  TF_DeleteStatus(status);
  return result;
}

// `dir` must exist; its contents are replaced. Every key is read; the result
// has the first failure's code and all failures' messages.
inline qtf::Status run_checkpoint_input(const uint8_t* data, size_t size, const std::string& dir) {
  clear_folder(dir);
  const std::string prefix = dir + "/variables";
  if (!write_checkpoint(split_sections(data, size), 0, prefix)) {
    return qtf::internal_error("Cannot write the checkpoint in " + dir);
  }
  qtf::BundleReader reader;
  QTF_RETURN_IF_ERROR(reader.open(prefix));
  TF_Code code = TF_OK;
  std::string messages;
  for (const std::string& key : reader.keys()) {
    qtf::Tensor tensor;
    const qtf::Status s = reader.read(key, &tensor);
    if (s.is_ok()) continue;
    if (code == TF_OK) code = s.code();
    messages += (messages.empty() ? "" : "; ") + s.message();
  }
  return code == TF_OK ? qtf::Status::ok() : qtf::Status(code, messages);
}

}  // namespace qfuzz
