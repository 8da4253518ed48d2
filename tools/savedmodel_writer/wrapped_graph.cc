// Carrying a wrapped model's outer graph, saver, init op and files over.
#include "wrapped_graph.h"

#include <filesystem>
#include <system_error>

#include "exec/loader.h"

namespace qsm {

std::string CarriedGraph::rename(const std::string& reference) const {
  const bool control = !reference.empty() && reference[0] == '^';
  std::string node = reference.substr(control ? 1 : 0);
  std::string suffix;
  const size_t colon = node.rfind(':');
  if (!control && colon != std::string::npos) {
    suffix = node.substr(colon);
    node = node.substr(0, colon);
  }
  const auto it = renamed.find(node);
  if (it != renamed.end()) node = it->second;
  return (control ? "^" : "") + node + suffix;
}

CarriedGraph carry_graph(const tensorflow::MetaGraphDef& source, const std::set<std::string>& taken) {
  CarriedGraph out;
  std::set<std::string> used;
  for (const auto& n : source.graph_def().node()) used.insert(n.name());
  for (const auto& n : source.graph_def().node()) {
    if (taken.count(n.name()) == 0) continue;
    std::string name = "source/" + n.name();
    for (int k = 1; used.count(name) != 0 || taken.count(name) != 0; ++k) {
      name = "source/" + n.name() + "_" + std::to_string(k);
    }
    used.insert(name);
    out.renamed[n.name()] = name;
  }
  for (const auto& n : source.graph_def().node()) {
    tensorflow::NodeDef copy = n;
    copy.set_name(out.rename(n.name()));
    for (auto& input : *copy.mutable_input()) input = out.rename(input);
    out.outer_nodes.push_back(std::move(copy));
  }
  const std::string init = qtf::init_op_name(source);
  if (!init.empty()) out.init_op = out.rename(init);
  out.has_saver = source.has_saver_def() && !source.saver_def().restore_op_name().empty();
  if (out.has_saver) {
    out.saver = source.saver_def();
    out.saver.set_filename_tensor_name(out.rename(out.saver.filename_tensor_name()));
    if (!out.saver.save_tensor_name().empty()) {
      out.saver.set_save_tensor_name(out.rename(out.saver.save_tensor_name()));
    }
    out.saver.set_restore_op_name(out.rename(out.saver.restore_op_name()));
  }
  for (const auto& asset : source.asset_file_def()) {
    tensorflow::AssetFileDef copy = asset;
    copy.mutable_tensor_info()->set_name(out.rename(asset.tensor_info().name()));
    out.assets.push_back(std::move(copy));
  }
  return out;
}

qtf::Status copy_checkpoint_and_assets(const std::string& source_dir, const std::string& dir) {
  namespace fs = std::filesystem;
  for (const char* folder : {"variables", "assets"}) {
    const fs::path from = fs::path(source_dir) / folder;
    std::error_code ec;
    if (!fs::is_directory(from, ec)) continue;
    fs::copy(from, fs::path(dir) / folder,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
      return qtf::Status(TF_PERMISSION_DENIED, "cannot copy " + from.string() + " to " + dir + ": " + ec.message());
    }
  }
  return qtf::Status::ok();
}

}  // namespace qsm
