// Session options, graphs, SavedModel loading and TF_SessionRun.
#include <google/protobuf/unknown_field_set.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "capi/c_api_internal.h"
#include "exec/loader.h"

namespace {

using qtf::Status;

// Frees the graph when it was deleted and its last session is gone.
// Called with the graph's mutex held; returns true when the caller must delete it.
bool graph_done(TF_Graph* graph) { return graph->delete_requested && graph->num_sessions == 0; }

Status to_value_ref(const TF_Session* s, const TF_Output& output, const char* role, int i,
                    qtf::ValueRef* ref) {
  const TF_Graph* graph = s->graph;
  const TF_Operation* op = output.oper;
  if (op == nullptr) return qtf::invalid_argument(std::string(role) + " " + std::to_string(i) + " has no operation");
  // Range check first: a foreign pointer must not be dereferenced.
  if (op < graph->operations.data() || op >= graph->operations.data() + graph->operations.size() ||
      op->graph != graph) {
    return qtf::invalid_argument(std::string(role) + " " + std::to_string(i) +
                                 " names an operation of another graph");
  }
  *ref = qtf::ValueRef{op->node, output.index};
  return Status::ok();
}

Status session_run(TF_Session* s, const TF_Output* inputs, TF_Tensor* const* input_values,
                   int ninputs, const TF_Output* outputs, TF_Tensor** output_values, int noutputs,
                   const TF_Operation* const* targets, int ntargets) {
  if (s == nullptr || !s->session) return qtf::invalid_argument("Session is null");
  if (s->closed) return Status(TF_CANCELLED, "Session has been closed.");
  if (ninputs < 0 || noutputs < 0 || ntargets < 0) return qtf::invalid_argument("Negative count");
  if ((ninputs > 0 && (inputs == nullptr || input_values == nullptr)) ||
      (noutputs > 0 && outputs == nullptr) || (ntargets > 0 && targets == nullptr)) {
    return qtf::invalid_argument("Null array with a non-zero count");
  }
  std::vector<qtf::ValueRef> feeds, fetches;
  std::vector<qtf::Tensor> values;
  std::vector<int> target_nodes;
  for (int i = 0; i < ninputs; ++i) {
    qtf::ValueRef ref;
    QTF_RETURN_IF_ERROR(to_value_ref(s, inputs[i], "Feed", i, &ref));
    const TF_Tensor* t = input_values[i];
    const std::string name = s->session->graph().node(ref.node).name() + ":" + std::to_string(ref.output);
    if (t == nullptr) return qtf::invalid_argument("No tensor given for feed " + name);
    const TF_DataType dtype = t->tensor.dtype();
    if (dtype == TF_STRING || dtype == TF_RESOURCE || dtype == TF_VARIANT) {
      return qtf::unimplemented(std::string("Feeding ") + qtf::dtype_name(dtype) +
                                " tensors through the C API is not supported (feed " + name + ")");
    }
    feeds.push_back(ref);
    values.push_back(t->tensor);
  }
  for (int i = 0; i < noutputs; ++i) {
    qtf::ValueRef ref;
    QTF_RETURN_IF_ERROR(to_value_ref(s, outputs[i], "Fetch", i, &ref));
    fetches.push_back(ref);
  }
  for (int i = 0; i < ntargets; ++i) {
    const TF_Operation* op = targets[i];
    const auto& ops = s->graph->operations;
    if (op == nullptr || op < ops.data() || op >= ops.data() + ops.size()) {
      return qtf::invalid_argument("Target " + std::to_string(i) + " is not an operation of the session's graph");
    }
    target_nodes.push_back(op->node);
  }
  std::vector<qtf::Tensor> results;
  QTF_RETURN_IF_ERROR(s->session->run(feeds, std::move(values), fetches, target_nodes, &results));
  values.clear();

  std::vector<TF_Tensor*> made;
  for (size_t i = 0; i < results.size(); ++i) {
    qtf::Tensor& r = results[i];
    if (r.dtype() == TF_STRING || r.dtype() == TF_RESOURCE || r.dtype() == TF_VARIANT ||
        qtf::dtype_size(r.dtype()) == 0) {
      for (TF_Tensor* t : made) delete t;
      return qtf::unimplemented(std::string("Fetching ") + qtf::dtype_name(r.dtype()) +
                                " tensors through the C API is not supported (fetch " +
                                std::to_string(i) + ")");
    }
    auto* t = new TF_Tensor();
    made.push_back(t);
    if (r.is_sole_owner()) {
      t->tensor = std::move(r);
    } else {
      // Still shared (a constant, a variable, a fed buffer, another fetch):
      // the caller gets its own copy it may write to.
      t->tensor = qtf::Tensor::allocate(r.dtype(), r.shape());
      if (t->tensor.byte_size() > 0) std::memcpy(t->tensor.raw(), r.raw(), t->tensor.byte_size());
    }
    r = qtf::Tensor();
  }
  for (int i = 0; i < noutputs; ++i) output_values[i] = made[static_cast<size_t>(i)];
  return Status::ok();
}

}  // namespace

extern "C" {

TF_SessionOptions* TF_NewSessionOptions(void) { return new TF_SessionOptions(); }

void TF_SetConfig(TF_SessionOptions* options, const void* proto, size_t proto_len, TF_Status* status) {
  if (options == nullptr || proto_len > static_cast<size_t>(INT_MAX) ||
      (proto == nullptr && proto_len > 0) ||
      !options->config.ParseFromArray(proto, static_cast<int>(proto_len))) {
    qtf::set_status(status, qtf::invalid_argument("Unparseable ConfigProto"));
    return;
  }
  // GPU options are accepted and have nothing to act on: this runtime is CPU only.
  qtf::set_status(status, Status::ok());
}

void TF_DeleteSessionOptions(TF_SessionOptions* options) { delete options; }

TF_Graph* TF_NewGraph(void) { return new TF_Graph(); }

void TF_DeleteGraph(TF_Graph* graph) {
  if (graph == nullptr) return;
  bool free_now = false;
  {
    std::lock_guard<std::mutex> lock(graph->mu);
    graph->delete_requested = true;
    free_now = graph_done(graph);
  }
  if (free_now) delete graph;
}

TF_Operation* TF_GraphOperationByName(TF_Graph* graph, const char* oper_name) {
  if (graph == nullptr || oper_name == nullptr || !graph->graph) return nullptr;
  const int index = graph->graph->find_node(oper_name);
  return index < 0 ? nullptr : &graph->operations[static_cast<size_t>(index)];
}

const char* TF_OperationName(TF_Operation* oper) {
  return oper->graph->graph->node(oper->node).name().c_str();
}

TF_Session* TF_LoadSessionFromSavedModel(const TF_SessionOptions* session_options,
                                         const TF_Buffer* run_options, const char* export_dir,
                                         const char* const* tags, int tags_len, TF_Graph* graph,
                                         TF_Buffer* meta_graph_def, TF_Status* status) {
  TF_Session* result = nullptr;
  const Status s = qtf::guarded([&]() -> Status {
    if (session_options == nullptr) return qtf::invalid_argument("Session options are null");
    if (graph == nullptr) return qtf::invalid_argument("Graph is null");
    if (export_dir == nullptr) return qtf::invalid_argument("Export directory is null");
    if (tags_len < 0 || (tags_len > 0 && tags == nullptr)) return qtf::invalid_argument("Bad tag list");
    if (run_options != nullptr && run_options->length > 0) {
      google::protobuf::UnknownFieldSet fields;
      if (run_options->data == nullptr || run_options->length > static_cast<size_t>(INT_MAX) ||
          !fields.ParseFromArray(run_options->data, static_cast<int>(run_options->length))) {
        return qtf::invalid_argument("Unparseable RunOptions proto");
      }
    }
    if (meta_graph_def != nullptr && meta_graph_def->data != nullptr) {
      return qtf::invalid_argument("Passing non-empty TF_Buffer is invalid.");
    }
    {
      std::lock_guard<std::mutex> lock(graph->mu);
      if (graph->graph) return qtf::invalid_argument("Graph is non-empty.");
    }
    std::vector<std::string> tag_list;
    for (int i = 0; i < tags_len; ++i) tag_list.emplace_back(tags[i] == nullptr ? "" : tags[i]);

    qtf::LoadedModel model;
    std::string meta;
    QTF_RETURN_IF_ERROR(qtf::load_saved_model(export_dir, tag_list, &model,
                                              meta_graph_def != nullptr ? &meta : nullptr));
    std::lock_guard<std::mutex> lock(graph->mu);
    if (graph->graph) return qtf::invalid_argument("Graph is non-empty.");
    graph->graph = model.graph;
    graph->operations.resize(static_cast<size_t>(model.graph->num_nodes()));
    for (int i = 0; i < model.graph->num_nodes(); ++i) {
      graph->operations[static_cast<size_t>(i)] = TF_Operation{graph, i};
    }
    ++graph->num_sessions;
    result = new TF_Session{std::move(model.session), graph, false};
    if (meta_graph_def != nullptr) {
      void* copy = std::malloc(meta.empty() ? 1 : meta.size());
      if (copy == nullptr) throw std::bad_alloc();
      std::memcpy(copy, meta.data(), meta.size());
      meta_graph_def->data = copy;
      meta_graph_def->length = meta.size();
      meta_graph_def->data_deallocator = [](void* data, size_t) { std::free(data); };
    }
    return Status::ok();
  });
  qtf::set_status(status, s);
  return s.is_ok() ? result : nullptr;
}

void TF_SessionRun(TF_Session* session, const TF_Buffer* run_options, const TF_Output* inputs,
                   TF_Tensor* const* input_values, int ninputs, const TF_Output* outputs,
                   TF_Tensor** output_values, int noutputs, const TF_Operation* const* target_opers,
                   int ntargets, TF_Buffer* run_metadata, TF_Status* status) {
  (void)run_options;
  (void)run_metadata;
  for (int i = 0; i < noutputs && output_values != nullptr; ++i) output_values[i] = nullptr;
  const Status s = qtf::guarded([&]() -> Status {
    if (noutputs > 0 && output_values == nullptr) return qtf::invalid_argument("No output array");
    return session_run(session, inputs, input_values, ninputs, outputs, output_values, noutputs,
                       target_opers, ntargets);
  });
  if (!s.is_ok()) {
    for (int i = 0; i < noutputs && output_values != nullptr; ++i) output_values[i] = nullptr;
  }
  qtf::set_status(status, s);
}

void TF_CloseSession(TF_Session* session, TF_Status* status) {
  if (session != nullptr) session->closed = true;
  qtf::set_status(status, Status::ok());
}

void TF_DeleteSession(TF_Session* session, TF_Status* status) {
  qtf::set_status(status, Status::ok());
  if (session == nullptr) return;
  TF_Graph* graph = session->graph;
  session->session.reset();
  delete session;
  if (graph == nullptr) return;
  bool free_now = false;
  {
    std::lock_guard<std::mutex> lock(graph->mu);
    --graph->num_sessions;
    free_now = graph_done(graph);
  }
  if (free_now) delete graph;
}

}  // extern "C"
