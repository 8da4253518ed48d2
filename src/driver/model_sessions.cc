// Model session loading and release (see model_sessions.h).
#include "driver/model_sessions.h"

#include "data/path_utils.h"
#include "inference/network_contract.h"

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

}  // namespace quarrow
