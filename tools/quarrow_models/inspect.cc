// `quarrow-models inspect`: what a SavedModel holds, read straight from its
// files (saved_model.pb and the checkpoint index), without running anything.
#include <cctype>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

#include "checkpoint/table.h"
#include "commands.h"
#include "exec/loader.h"
#include "saved_model.pb.h"
#include "tensor_bundle.pb.h"

namespace quarrow::models {

namespace {

std::string type_text(tensorflow::DataType t) {
  if (t == tensorflow::DT_INVALID) return "-";
  if (!tensorflow::DataType_IsValid(t)) return "type" + std::to_string(static_cast<int>(t));
  std::string name = tensorflow::DataType_Name(t).substr(3);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string shape_text(const tensorflow::TensorShapeProto& shape) {
  if (shape.unknown_rank()) return "<unknown rank>";
  std::string s = "[";
  for (int k = 0; k < shape.dim_size(); ++k) {
    if (k > 0) s += ",";
    s += shape.dim(k).size() < 0 ? std::string("?") : std::to_string(shape.dim(k).size());
  }
  return s + "]";
}

// The ops a load of this meta-graph would plan, with counts, unsupported ones
// marked, then the line the load would fail with.
void print_path_ops(const tensorflow::MetaGraphDef& meta, bool restores, std::ostream& out) {
  const std::vector<qtf::OpUse> ops =
      qtf::census_ops(meta.graph_def(), qtf::load_path_runs(meta, restores));
  size_t unsupported = 0;
  for (const qtf::OpUse& use : ops) unsupported += use.supported ? 0 : 1;
  out << "  serving path ops (" << ops.size() << ", " << unsupported << " unsupported):\n";
  for (const qtf::OpUse& use : ops) {
    out << "    " << std::left << std::setw(32) << use.op << std::right << std::setw(5) << use.count;
    if (!use.supported) {
      out << "  UNSUPPORTED (node '" << use.node << "'";
      if (!use.function.empty()) out << " in '" << use.function << "'";
      out << ")";
    }
    out << "\n";
  }
  const std::string line = qtf::unsupported_ops_line(ops);
  if (!line.empty()) out << "  " << line << "\n";
}

bool read_file(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  *bytes = buffer.str();
  return true;
}

}  // namespace

int inspect_command(const std::string& dir, std::ostream& out, std::ostream& err) {
  const std::string pb_path = dir + "/saved_model.pb";
  std::string bytes;
  if (!read_file(pb_path, &bytes)) {
    err << "quarrow-models: cannot read " << pb_path << "\n";
    return 1;
  }
  tensorflow::SavedModel model;
  if (!model.ParseFromString(bytes)) {
    err << "quarrow-models: " << pb_path << " is not a SavedModel protobuf\n";
    return 1;
  }
  const std::string index_path = dir + "/variables/variables.index";
  std::string index_bytes;
  const bool has_checkpoint = read_file(index_path, &index_bytes);
  out << "SavedModel " << dir << " (schema " << model.saved_model_schema_version() << ")\n";
  for (int m = 0; m < model.meta_graphs_size(); ++m) {
    const auto& meta = model.meta_graphs(m);
    out << "meta-graph " << m << ": tags";
    for (const auto& tag : meta.meta_info_def().tags()) out << " " << tag;
    if (!meta.meta_info_def().tensorflow_version().empty()) {
      out << " (TensorFlow " << meta.meta_info_def().tensorflow_version() << ")";
    }
    out << "\n";
    std::map<std::string, const tensorflow::SignatureDef*> sigs;
    for (const auto& [key, sig] : meta.signature_def()) sigs[key] = &sig;
    for (const auto& [key, sig] : sigs) {
      out << "  signature \"" << key << "\"";
      if (!sig->method_name().empty()) out << " (" << sig->method_name() << ")";
      out << "\n";
      std::map<std::string, const tensorflow::TensorInfo*> ins;
      std::map<std::string, const tensorflow::TensorInfo*> outs;
      for (const auto& [name, info] : sig->inputs()) ins[name] = &info;
      for (const auto& [name, info] : sig->outputs()) outs[name] = &info;
      for (const auto& [name, info] : ins) {
        out << "    input  " << name << ": " << type_text(info->dtype()) << " "
            << shape_text(info->tensor_shape()) << " at " << info->name() << "\n";
      }
      for (const auto& [name, info] : outs) {
        out << "    output " << name << ": " << type_text(info->dtype()) << " "
            << shape_text(info->tensor_shape()) << " at " << info->name() << "\n";
      }
    }
    print_path_ops(meta, has_checkpoint, out);
    out << "  functions: " << meta.graph_def().library().function_size() << "\n";
    if (meta.has_saver_def()) {
      out << "  saver: restore " << meta.saver_def().restore_op_name() << ", filename "
          << meta.saver_def().filename_tensor_name() << "\n";
    }
  }

  if (!has_checkpoint) {
    out << "variables: none (no " << index_path << ")\n";
    return 0;
  }
  qtf::TableEntries entries;
  qtf::Status s = qtf::parse_table(index_bytes, index_path, &entries);
  if (!s.is_ok()) {
    err << "quarrow-models: " << s.message() << "\n";
    return 1;
  }
  out << "variables (" << index_path << "):\n";
  for (const auto& [key, value] : entries) {
    if (key.empty()) continue;  // the bundle header
    tensorflow::BundleEntryProto entry;
    if (!entry.ParseFromString(value)) {
      err << "quarrow-models: " << index_path << ": entry '" << key << "' does not parse\n";
      return 1;
    }
    out << "  " << key << ": " << type_text(entry.dtype()) << " " << shape_text(entry.shape())
        << " (" << entry.size() << " bytes)\n";
  }
  return 0;
}

}  // namespace quarrow::models
