// ModelSession: the open handles of one loaded SavedModel.
//
// The runners receive a model's session, graph and status from it. The status
// object lives for the whole run and carries the code of the model's last call
// into the next one, so a model whose run failed is skipped from then on.
#pragma once

#include <tensorflow/c/c_api.h>

namespace quarrow {

struct ModelSession {
  TF_SessionOptions* options = nullptr;
  TF_Graph* graph = nullptr;
  TF_Status* status = nullptr;
  TF_Session* session = nullptr;
};

}  // namespace quarrow
