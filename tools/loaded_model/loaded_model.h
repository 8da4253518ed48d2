// LoadedModel: a SavedModel loaded through the TensorFlow C API, with every
// handle released in one place, and feed/fetch lookup by tensor name ("op:k",
// or "op" for output 0). The tools, the tests and the benchmarks share it.
//
// Header-only on purpose: its user links the C library it runs on (the
// built-in libtensorflow.so, the runtime's own objects in the runtime's tests,
// or a real TensorFlow), and two of those must never meet in one process.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "inference/model_session.h"
#include "inference/network_contract.h"
#include "tensorflow/c/c_api.h"

namespace quarrow {

// Splits "op:3" into ("op", 3); a name without a numeric ":k" suffix (at most
// eight digits) is the whole name at index 0.
inline void split_tensor_name(const std::string& name, std::string* op, int* index) {
  const size_t colon = name.rfind(':');
  *op = name;
  *index = 0;
  if (colon == std::string::npos || colon + 1 == name.size() || name.size() - colon > 9) return;
  for (size_t k = colon + 1; k < name.size(); ++k) {
    if (!std::isdigit(static_cast<unsigned char>(name[k]))) return;
  }
  *op = name.substr(0, colon);
  *index = std::stoi(name.substr(colon + 1));
}

struct LoadOptions {
  std::vector<const char*> tags = {kServingTag};
  std::string config;                   // a serialized ConfigProto; empty for none
  TF_Buffer* meta_graph_def = nullptr;  // receives the MetaGraphDef when given
};

class LoadedModel {
 public:
  LoadedModel() = default;
  // Loads `dir`; loaded() and error() tell how that went.
  explicit LoadedModel(const std::string& dir, const LoadOptions& options = {}) {
    load(dir, options, &error_);
  }
  ~LoadedModel() { release(); }
  LoadedModel(const LoadedModel&) = delete;
  LoadedModel& operator=(const LoadedModel&) = delete;

  // Loads `dir` in place of whatever was loaded. On failure returns false with
  // TensorFlow's message, naming the folder, in `*error` and in error(); the
  // graph stays (empty) and status() keeps the code.
  bool load(const std::string& dir, const LoadOptions& options, std::string* error) {
    release();
    dir_ = dir;
    handles_.options = TF_NewSessionOptions();
    handles_.graph = TF_NewGraph();
    handles_.status = TF_NewStatus();
    if (!options.config.empty()) {
      TF_SetConfig(handles_.options, options.config.data(), options.config.size(), handles_.status);
      if (TF_GetCode(handles_.status) != TF_OK) {
        return fail(dir + ": session config rejected: " + TF_Message(handles_.status), error);
      }
    }
    handles_.session = TF_LoadSessionFromSavedModel(
        handles_.options, nullptr, dir.c_str(), options.tags.data(),
        static_cast<int>(options.tags.size()), handles_.graph, options.meta_graph_def,
        handles_.status);
    if (TF_GetCode(handles_.status) != TF_OK || handles_.session == nullptr) {
      // status() keeps the load's code and message.
      if (handles_.session != nullptr) delete_session(handles_.session);
      handles_.session = nullptr;
      return fail(dir + ": load failed (code " + code_text(handles_.status) +
                      "): " + TF_Message(handles_.status),
                  error);
    }
    error_.clear();
    return true;
  }
  bool load(const std::string& dir, const std::string& config, std::string* error) {
    LoadOptions options;
    options.config = config;
    return load(dir, options, error);
  }

  bool loaded() const { return handles_.session != nullptr; }
  const std::string& error() const { return error_; }

  TF_Graph* graph() const { return handles_.graph; }
  TF_Session* session() const { return handles_.session; }
  // The model's own status: the load's outcome, then whatever the runners
  // that take handles() leave in it.
  TF_Status* status() const { return handles_.status; }
  TF_Code code() const { return handles_.status == nullptr ? TF_OK : TF_GetCode(handles_.status); }
  // The handles as quarrow's model runners take them.
  ModelSession& handles() { return handles_; }

  // Resolves a tensor name; false with a message naming the op when the graph
  // has no such operation.
  bool find_output(const std::string& tensor_name, TF_Output* out, std::string* error) const {
    std::string op;
    int index = 0;
    split_tensor_name(tensor_name, &op, &index);
    TF_Operation* oper =
        handles_.graph == nullptr ? nullptr : TF_GraphOperationByName(handles_.graph, op.c_str());
    if (oper == nullptr) {
      *error = "no operation '" + op + "' in " + dir_;
      return false;
    }
    *out = TF_Output{oper, index};
    return true;
  }

  // Runs once. On success the caller owns `*outputs` (TF_DeleteTensor each);
  // on failure none are left and `*error` names the folder.
  bool run(const std::vector<TF_Output>& feeds, const std::vector<TF_Tensor*>& values,
           const std::vector<TF_Output>& fetches, std::vector<TF_Tensor*>* outputs,
           std::string* error) const {
    outputs->assign(fetches.size(), nullptr);
    if (!loaded()) {
      *error = dir_ + ": not loaded";
      return false;
    }
    TF_Status* status = TF_NewStatus();
    TF_SessionRun(handles_.session, nullptr, feeds.data(), values.data(),
                  static_cast<int>(feeds.size()), fetches.data(), outputs->data(),
                  static_cast<int>(fetches.size()), nullptr, 0, nullptr, status);
    const bool ok = TF_GetCode(status) == TF_OK;
    if (!ok) {
      *error = dir_ + ": run failed (code " + code_text(status) + "): " + TF_Message(status);
      for (TF_Tensor*& t : *outputs) {
        if (t != nullptr) TF_DeleteTensor(t);
        t = nullptr;
      }
    }
    TF_DeleteStatus(status);
    return ok;
  }

 private:
  static std::string code_text(TF_Status* status) {
    return std::to_string(static_cast<int>(TF_GetCode(status)));
  }

  bool fail(const std::string& message, std::string* error) {
    error_ = message;
    if (error != nullptr && error != &error_) *error = message;
    return false;
  }

  static void delete_session(TF_Session* session) {
    TF_Status* status = TF_NewStatus();
    TF_CloseSession(session, status);
    TF_DeleteSession(session, status);
    TF_DeleteStatus(status);
  }

  void release() {
    if (handles_.session != nullptr) delete_session(handles_.session);
    if (handles_.graph != nullptr) TF_DeleteGraph(handles_.graph);
    if (handles_.options != nullptr) TF_DeleteSessionOptions(handles_.options);
    if (handles_.status != nullptr) TF_DeleteStatus(handles_.status);
    handles_ = ModelSession{};
  }

  std::string dir_;
  std::string error_;
  ModelSession handles_;
};

}  // namespace quarrow
