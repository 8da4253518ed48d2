// Opening and releasing the SavedModels of the run through the TensorFlow C
// API. All four models share one session configuration that lets TensorFlow
// grow its GPU memory as needed instead of reserving it up front.
#pragma once

#include <string>

#include "inference/model_session.h"

namespace quarrow {

// Creates options, graph and status, stores the session configuration and
// loads the "serve" meta-graph of the SavedModel at `model_path` (a rendered
// path text). The caller tests the load with TF_GetCode on `status`; on
// failure the handles are left as they are.
ModelSession load_model_session(const std::string& model_path);

// Releases all four models after a complete run: the graphs, then the
// sessions, then the options, each group in the order sky, ground, indoor
// depth, outdoor depth. Status objects are never freed; they live until the
// process ends.
void release_model_sessions(ModelSession& sky_session, ModelSession& ground_session,
                            ModelSession& indoor_depth_session,
                            ModelSession& outdoor_depth_session);

// Marks the handles still open in `model` as held until the process ends, as
// the status objects always are and every handle is on an early exit. No C API
// call is made. In a LeakSanitizer build this tells the checker they are kept
// on purpose, so it still reports anything else the run loses; otherwise it
// does nothing.
void hold_until_exit(const ModelSession& model);

}  // namespace quarrow
