// The parts of a wrapped SavedModel (ModelBuilder::wrap) as they go into the
// new model: its outer nodes, with those whose names the new model needs
// renamed "source/<name>" and every reference to them rewritten, its saver,
// init op and assets under the new names, and the copy of its checkpoint and
// asset files. Internal to the writer.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/status.h"
#include "saved_model.pb.h"

namespace qsm {

struct CarriedGraph {
  std::vector<tensorflow::NodeDef> outer_nodes;
  std::map<std::string, std::string> renamed;  // source node name -> new name
  std::string init_op;                         // new name; empty when the source has none
  bool has_saver = false;
  tensorflow::SaverDef saver;
  std::vector<tensorflow::AssetFileDef> assets;

  // "node", "node:k" or "^node" of the source, under the new names.
  std::string rename(const std::string& reference) const;
};

// `taken`: outer node names the new model adds itself.
CarriedGraph carry_graph(const tensorflow::MetaGraphDef& source, const std::set<std::string>& taken);

// Copies <source_dir>/variables and <source_dir>/assets (when present) into `dir`.
qtf::Status copy_checkpoint_and_assets(const std::string& source_dir, const std::string& dir);

}  // namespace qsm
