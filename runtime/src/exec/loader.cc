#include "exec/loader.h"

#include <google/protobuf/text_format.h>

#include <climits>
#include <set>

#include "exec/op_census.h"
#include "util/file.h"

namespace qtf {
namespace {

constexpr char kInitOpSignature[] = "__saved_model_init_op";
constexpr char kServingSignature[] = "serving_default";

std::string tag_list(const std::vector<std::string>& tags) {
  std::string out = "{";
  for (const auto& t : tags) out += " " + t;
  return out + " }";
}

struct Feeds {
  std::vector<ValueRef> refs;
  std::vector<Tensor> values;
  void add(const ValueRef& ref, Tensor value) {
    refs.push_back(ref);
    values.push_back(std::move(value));
  }
};

Status asset_feeds(const tensorflow::MetaGraphDef& meta, const std::string& export_dir,
                   const Session& session, Feeds* feeds) {
  for (const auto& asset : meta.asset_file_def()) {
    ValueRef ref;
    QTF_RETURN_IF_ERROR(session.parse_tensor_name(asset.tensor_info().name(), &ref));
    feeds->add(ref, Tensor::strings({}, {export_dir + "/assets/" + asset.filename()}));
  }
  return Status::ok();
}

}  // namespace

std::string init_op_name(const tensorflow::MetaGraphDef& meta) {
  const auto sig = meta.signature_def().find(kInitOpSignature);
  if (sig != meta.signature_def().end()) {
    const auto out = sig->second.outputs().find(kInitOpSignature);
    if (out != sig->second.outputs().end() && !out->second.name().empty()) return out->second.name();
  }
  for (const char* collection : {"saved_model_main_op", "legacy_init_op"}) {
    const auto it = meta.collection_def().find(collection);
    if (it != meta.collection_def().end() && it->second.node_list().value_size() > 0) {
      return it->second.node_list().value(0);
    }
  }
  return "";
}

bool signature_checked_at_load(const tensorflow::MetaGraphDef& meta, const std::string& key) {
  if (key == kInitOpSignature) return false;
  return key == kServingSignature || meta.signature_def().count(kServingSignature) == 0;
}

std::vector<PathRun> load_path_runs(const tensorflow::MetaGraphDef& meta, bool restores) {
  std::vector<PathRun> runs;
  std::vector<std::string> assets;
  for (const auto& asset : meta.asset_file_def()) assets.push_back(asset.tensor_info().name());
  for (const auto& [key, sig] : meta.signature_def()) {
    if (!signature_checked_at_load(meta, key)) continue;
    PathRun run;
    for (const auto& [name, info] : sig.inputs()) run.feeds.push_back(info.name());
    for (const auto& [name, info] : sig.outputs()) run.roots.push_back(info.name());
    runs.push_back(std::move(run));
  }
  const tensorflow::SaverDef& saver = meta.saver_def();
  if (restores && !saver.restore_op_name().empty()) {
    PathRun run{assets, {"^" + saver.restore_op_name()}};
    run.feeds.push_back(saver.filename_tensor_name());
    runs.push_back(std::move(run));
  }
  const std::string init = init_op_name(meta);
  if (!init.empty()) runs.push_back(PathRun{assets, {"^" + init}});
  return runs;
}

namespace {

// The init op's node, or -1 when the model has none.
Status init_op(const tensorflow::MetaGraphDef& meta, const Session& session, int* node) {
  *node = -1;
  const std::string name = init_op_name(meta);
  if (name.empty()) return Status::ok();
  ValueRef ref;
  QTF_RETURN_IF_ERROR(session.parse_tensor_name(name, &ref));
  *node = ref.node;
  return Status::ok();
}

// Every op the load and the checked signatures need, before any planning, so
// that all missing ops are named at once, in one line of bounded length.
Status check_path_ops(const tensorflow::MetaGraphDef& meta, bool restores) {
  const std::string line =
      unsupported_ops_line(census_ops(meta.graph_def(), load_path_runs(meta, restores)));
  return line.empty() ? Status::ok() : unimplemented(line);
}

// Plans the serving signature so unsupported ops fail the load. Signatures
// other than serving_default (parsing tf.Example, say) are checked only when
// the model has no serving_default, and then all of them.
Status check_signatures(const tensorflow::MetaGraphDef& meta, Session* session) {
  for (const auto& [key, sig] : meta.signature_def()) {
    if (!signature_checked_at_load(meta, key)) continue;
    std::vector<ValueRef> feeds, fetches;
    for (const auto* map : {&sig.inputs(), &sig.outputs()}) {
      // Signature maps are unordered; plan them in key order.
      std::set<std::string> names;
      for (const auto& kv : *map) names.insert(kv.first);
      for (const auto& name : names) {
        const tensorflow::TensorInfo& info = map->at(name);
        if (info.encoding_case() != tensorflow::TensorInfo::kName) {
          return unimplemented("Signature '" + key + "': '" + name + "' is not a dense tensor");
        }
        ValueRef ref;
        const Status s = session->parse_tensor_name(info.name(), &ref);
        if (!s.is_ok()) return Status(s.code(), "Signature '" + key + "': " + s.message());
        (map == &sig.inputs() ? feeds : fetches).push_back(ref);
      }
    }
    const Status s = session->prepare(feeds, fetches, {});
    if (!s.is_ok()) return Status(s.code(), s.message() + " (signature '" + key + "')");
  }
  return Status::ok();
}

}  // namespace

Status read_saved_model(const std::string& export_dir, tensorflow::SavedModel* model) {
  if (!is_directory(export_dir)) {
    return not_found("SavedModel folder '" + export_dir + "' does not exist");
  }
  const std::string pb = export_dir + "/saved_model.pb";
  const std::string pbtxt = export_dir + "/saved_model.pbtxt";
  std::string bytes;
  if (path_exists(pb)) {
    QTF_RETURN_IF_ERROR(read_file(pb, &bytes));
    // Parsing from an array has no 64 MiB stream limit.
    if (bytes.size() > static_cast<size_t>(INT_MAX) ||
        !model->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
      return data_loss("Could not parse SavedModel " + pb + " (corrupt or truncated)");
    }
    return Status::ok();
  }
  if (path_exists(pbtxt)) {
    QTF_RETURN_IF_ERROR(read_file(pbtxt, &bytes));
    if (!google::protobuf::TextFormat::ParseFromString(bytes, model)) {
      return data_loss("Could not parse SavedModel " + pbtxt);
    }
    return Status::ok();
  }
  return not_found("No saved_model.pb or saved_model.pbtxt in '" + export_dir + "'");
}

Status find_meta_graph(const tensorflow::SavedModel& model, const std::vector<std::string>& tags,
                       const std::string& export_dir, int* index) {
  const std::set<std::string> wanted(tags.begin(), tags.end());
  for (int i = 0; i < model.meta_graphs_size(); ++i) {
    const auto& stored = model.meta_graphs(i).meta_info_def().tags();
    if (std::set<std::string>(stored.begin(), stored.end()) == wanted) {
      *index = i;
      return Status::ok();
    }
  }
  std::string available;
  for (const auto& meta : model.meta_graphs()) {
    const auto& stored = meta.meta_info_def().tags();
    available += " " + tag_list(std::vector<std::string>(stored.begin(), stored.end()));
  }
  return not_found("Could not find a meta graph matching tags " + tag_list(tags) + " in '" +
                   export_dir + "'; available tag sets:" + (available.empty() ? " none" : available));
}

Status load_saved_model(const std::string& export_dir, const std::vector<std::string>& tags,
                        LoadedModel* out, std::string* meta_graph_def) {
  tensorflow::SavedModel model;
  QTF_RETURN_IF_ERROR(read_saved_model(export_dir, &model));
  int chosen = -1;
  QTF_RETURN_IF_ERROR(find_meta_graph(model, tags, export_dir, &chosen));
  tensorflow::MetaGraphDef& meta = *model.mutable_meta_graphs(chosen);
  if (meta_graph_def != nullptr) meta.SerializeToString(meta_graph_def);
  const tensorflow::SaverDef& saver = meta.saver_def();
  const std::string prefix = export_dir + "/variables/variables";
  // Restore only when there is both a saver and a checkpoint to restore from.
  const bool restores = !saver.restore_op_name().empty() && path_exists(prefix + ".index");
  QTF_RETURN_IF_ERROR(check_path_ops(meta, restores));

  auto graph = std::make_shared<Graph>();
  tensorflow::GraphDef graph_def;
  graph_def.Swap(meta.mutable_graph_def());
  QTF_RETURN_IF_ERROR(graph->init(std::move(graph_def), meta.meta_info_def().stripped_op_list()));
  auto session = std::make_unique<Session>(graph);

  Feeds assets;
  QTF_RETURN_IF_ERROR(asset_feeds(meta, export_dir, *session, &assets));

  Feeds restore = assets;
  int restore_node = -1;
  if (restores) {
    ValueRef op, filename;
    QTF_RETURN_IF_ERROR(session->parse_tensor_name(saver.restore_op_name(), &op));
    QTF_RETURN_IF_ERROR(session->parse_tensor_name(saver.filename_tensor_name(), &filename));
    restore_node = op.node;
    restore.add(filename, Tensor::strings({}, {prefix}));
  }
  int init_node = -1;
  QTF_RETURN_IF_ERROR(init_op(meta, *session, &init_node));

  QTF_RETURN_IF_ERROR(check_signatures(meta, session.get()));
  if (restore_node >= 0) {
    const Status s = session->prepare(restore.refs, {}, {restore_node});
    if (!s.is_ok()) return Status(s.code(), s.message() + " (variable restore)");
  }
  if (init_node >= 0) {
    const Status s = session->prepare(assets.refs, {}, {init_node});
    if (!s.is_ok()) return Status(s.code(), s.message() + " (init op)");
  }

  std::vector<Tensor> none;
  if (restore_node >= 0) {
    QTF_RETURN_IF_ERROR(session->run(restore.refs, restore.values, {}, {restore_node}, &none));
  }
  if (init_node >= 0) {
    QTF_RETURN_IF_ERROR(session->run(assets.refs, assets.values, {}, {init_node}, &none));
  }
  out->graph = std::move(graph);
  out->session = std::move(session);
  return Status::ok();
}

}  // namespace qtf
