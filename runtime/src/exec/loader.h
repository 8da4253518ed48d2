// Loading a SavedModel folder into a Graph and a Session the way TensorFlow's
// loader does: pick the meta-graph whose tags equal the requested set, restore
// the variables from variables/variables, then run the init op with the asset
// paths fed. Every op the serving signature, the restore or the init op needs
// is checked for a kernel before anything runs, so an unsupported model fails
// here rather than on every run.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "exec/op_census.h"
#include "exec/session.h"
#include "graph/graph.h"
#include "saved_model.pb.h"

namespace qtf {

// Reads <export_dir>/saved_model.pb (or saved_model.pbtxt).
Status read_saved_model(const std::string& export_dir, tensorflow::SavedModel* model);

// Index of the meta-graph whose tag set equals `tags`; NOT_FOUND otherwise.
Status find_meta_graph(const tensorflow::SavedModel& model, const std::vector<std::string>& tags,
                       const std::string& export_dir, int* index);

// The init op's name: the init signature's output, else the first node of the
// TensorFlow 1 collections; empty when the model has none.
std::string init_op_name(const tensorflow::MetaGraphDef& meta);

// Whether the load plans signature `key`: serving_default, or every signature
// when there is no serving_default (never the init signature).
bool signature_checked_at_load(const tensorflow::MetaGraphDef& meta, const std::string& key);

// The runs a load checks: the signatures above, the variable restore (when
// `restores`: a saver and a checkpoint) and the init op, with their feeds.
std::vector<PathRun> load_path_runs(const tensorflow::MetaGraphDef& meta, bool restores);

struct LoadedModel {
  std::shared_ptr<Graph> graph;
  std::unique_ptr<Session> session;
};

// `meta_graph_def`, when not null, receives the chosen MetaGraphDef as stored.
Status load_saved_model(const std::string& export_dir, const std::vector<std::string>& tags,
                        LoadedModel* out, std::string* meta_graph_def);

}  // namespace qtf
