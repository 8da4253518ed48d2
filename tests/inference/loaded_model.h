// A SavedModel opened for a test through the C interface (tag "serve") and
// released again at the end of the test.
#pragma once

#include <string>

#include <tensorflow/c/c_api.h>

#include "inference/model_session.h"

namespace quarrow {

class LoadedModel {
 public:
  explicit LoadedModel(const std::string& dir) {
    handles_.options = TF_NewSessionOptions();
    handles_.graph = TF_NewGraph();
    handles_.status = TF_NewStatus();
    const char* tags[] = {"serve"};
    handles_.session = TF_LoadSessionFromSavedModel(handles_.options, nullptr, dir.c_str(), tags,
                                                    1, handles_.graph, nullptr, handles_.status);
    load_code_ = TF_GetCode(handles_.status);
  }
  ~LoadedModel() {
    if (handles_.session != nullptr) TF_DeleteSession(handles_.session, handles_.status);
    TF_DeleteGraph(handles_.graph);
    TF_DeleteSessionOptions(handles_.options);
    TF_DeleteStatus(handles_.status);
  }
  LoadedModel(const LoadedModel&) = delete;
  LoadedModel& operator=(const LoadedModel&) = delete;

  bool loaded() const { return load_code_ == TF_OK && handles_.session != nullptr; }
  ModelSession& handles() { return handles_; }
  TF_Session* session() const { return handles_.session; }
  TF_Graph* graph() const { return handles_.graph; }
  TF_Status* status() const { return handles_.status; }
  TF_Code code() const { return TF_GetCode(handles_.status); }

 private:
  ModelSession handles_;
  TF_Code load_code_ = TF_UNKNOWN;
};

}  // namespace quarrow
