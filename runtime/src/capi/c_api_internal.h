// What the opaque C API handles hold. Shared by the C API source files only.
#pragma once

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "config.pb.h"
#include "core/status.h"
#include "core/tensor.h"
#include "exec/session.h"
#include "graph/graph.h"
#include "tensorflow/c/c_api.h"

struct TF_Status {
  TF_Code code = TF_OK;
  std::string message;
};

struct TF_Tensor {
  qtf::Tensor tensor;
};

struct TF_SessionOptions {
  tensorflow::ConfigProto config;
};

struct TF_Operation {
  TF_Graph* graph = nullptr;
  int node = -1;
};

// A graph is filled once (by a SavedModel load) and read-only afterwards. It
// stays alive while sessions use it, even after TF_DeleteGraph.
struct TF_Graph {
  std::mutex mu;
  std::shared_ptr<const qtf::Graph> graph;
  std::vector<TF_Operation> operations;  // one per node, stable addresses
  int num_sessions = 0;
  bool delete_requested = false;
};

struct TF_Session {
  std::unique_ptr<qtf::Session> session;
  TF_Graph* graph = nullptr;
  bool closed = false;
};

namespace qtf {

inline void set_status(TF_Status* status, const Status& s) {
  if (status == nullptr) return;
  status->code = s.code();
  status->message = s.is_ok() ? std::string() : s.message();
}

// Runs `body` and turns allocation failures and other exceptions into a
// status: nothing may unwind through the C boundary.
template <typename F>
Status guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Status(TF_RESOURCE_EXHAUSTED, "Out of memory");
  } catch (const std::exception& e) {
    return internal_error(std::string("Unexpected failure: ") + e.what());
  }
}

}  // namespace qtf
