// Model session loading and release (see model_sessions.h).
#include "driver/model_sessions.h"

#include "data/path_utils.h"
#include "inference/network_contract.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUARROW_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define QUARROW_LEAK_CHECKED 1
#endif
#endif
#if QUARROW_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace quarrow {

ModelSession load_model_session(const std::string& model_path) {
  ModelSession model;
  model.options = TF_NewSessionOptions();
  model.graph = TF_NewGraph();
  model.status = TF_NewStatus();
  // The status this may set is overwritten by the load.
  TF_SetConfig(model.options, kSessionConfig, sizeof kSessionConfig, model.status);

  const std::string export_dir = native_path(model_path);
  const char* const tags[] = {kServingTag};
  model.session = TF_LoadSessionFromSavedModel(model.options, nullptr, export_dir.c_str(), tags,
                                               1, model.graph, nullptr, model.status);
  return model;
}

void release_model_sessions(ModelSession& sky_session, ModelSession& ground_session,
                            ModelSession& indoor_depth_session,
                            ModelSession& outdoor_depth_session) {
  ModelSession* const models[] = {&sky_session, &ground_session, &indoor_depth_session,
                                  &outdoor_depth_session};
  // A graph is only really freed once no session refers to it, so graphs may
  // go first.
  for (ModelSession* model : models) {
    TF_DeleteGraph(model->graph);
    model->graph = nullptr;
  }
  for (ModelSession* model : models) {
    TF_DeleteSession(model->session, model->status);
    model->session = nullptr;
  }
  for (ModelSession* model : models) {
    TF_DeleteSessionOptions(model->options);
    model->options = nullptr;
  }
}

void hold_until_exit(const ModelSession& model) {
#if QUARROW_LEAK_CHECKED
  const void* const handles[] = {model.options, model.graph, model.status, model.session};
  for (const void* handle : handles) {
    if (handle != nullptr) __lsan_ignore_object(handle);
  }
#else
  (void)model;
#endif
}

}  // namespace quarrow
