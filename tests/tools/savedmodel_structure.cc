// Structural checks shared by the writer tests and the real-export comparison.
#include "savedmodel_structure.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>

#include "checkpoint/bundle_reader.h"
#include "checkpoint/table.h"
#include "table_decoder.h"
#include "tensor_bundle.pb.h"
#include "util/crc32c.h"

namespace qsm_test {

namespace {

using tensorflow::FunctionDef;
using tensorflow::NodeDef;

std::string op_of(const std::string& tensor_name) {
  return tensor_name.substr(0, tensor_name.rfind(':'));
}

const NodeDef* find_node(const tensorflow::GraphDef& g, const std::string& name) {
  for (const NodeDef& n : g.node()) {
    if (n.name() == name) return &n;
  }
  return nullptr;
}

const FunctionDef* find_function(const tensorflow::GraphDef& g, const std::string& name) {
  for (const FunctionDef& f : g.library().function()) {
    if (f.signature().name() == name) return &f;
  }
  return nullptr;
}

// A call node's callee, checked for the attrs every TF2 call op carries.
const FunctionDef* check_call(const tensorflow::GraphDef& g, const NodeDef& call,
                              const std::string& label) {
  EXPECT_EQ(call.op(), "StatefulPartitionedCall") << label << ": " << call.name();
  const auto& attrs = call.attr();
  if (!attrs.count("f") || !attrs.count("Tin") || !attrs.count("Tout")) {
    ADD_FAILURE() << label << ": call " << call.name() << " lacks f/Tin/Tout";
    return nullptr;
  }
  EXPECT_EQ(attrs.at("Tin").list().type_size(), call.input_size()) << label << ": " << call.name();
  // Tin follows the inputs: resources for VarHandleOps, dtype for placeholders.
  for (int k = 0; k < call.input_size() && k < attrs.at("Tin").list().type_size(); ++k) {
    const NodeDef* in = find_node(g, call.input(k));
    if (in == nullptr) {
      ADD_FAILURE() << label << ": " << call.name() << " input " << call.input(k) << " missing";
      continue;
    }
    if (in->op() == "VarHandleOp") {
      EXPECT_EQ(attrs.at("Tin").list().type(k), tensorflow::DT_RESOURCE) << label;
    } else if (in->attr().count("dtype")) {
      EXPECT_EQ(attrs.at("Tin").list().type(k), in->attr().at("dtype").type()) << label;
    }
  }
  const FunctionDef* f = find_function(g, attrs.at("f").func().name());
  if (f == nullptr) {
    ADD_FAILURE() << label << ": " << call.name() << " calls a missing function";
    return nullptr;
  }
  EXPECT_EQ(f->signature().input_arg_size(), call.input_size()) << label << ": " << call.name();
  EXPECT_EQ(f->signature().output_arg_size(), attrs.at("Tout").list().type_size()) << label;
  return f;
}

// Every data input of a body is an argument or "node:out_arg:index" naming
// a body node; control inputs name body nodes.
void check_body_references(const FunctionDef& f, const std::string& label) {
  std::set<std::string> args, nodes;
  for (const auto& a : f.signature().input_arg()) args.insert(a.name());
  for (const NodeDef& n : f.node_def()) nodes.insert(n.name());
  auto check_ref = [&](const std::string& ref, const std::string& where) {
    if (ref.empty()) return;
    if (ref[0] == '^') {
      EXPECT_TRUE(nodes.count(ref.substr(1))) << label << ": " << where << " " << ref;
      return;
    }
    const size_t c1 = ref.find(':');
    if (c1 == std::string::npos) {
      EXPECT_TRUE(args.count(ref)) << label << ": " << where << " " << ref;
      return;
    }
    const size_t c2 = ref.find(':', c1 + 1);
    EXPECT_NE(c2, std::string::npos) << label << ": " << where << " " << ref << " is not node:arg:i";
    EXPECT_TRUE(nodes.count(ref.substr(0, c1))) << label << ": " << where << " " << ref;
  };
  for (const NodeDef& n : f.node_def()) {
    for (const std::string& in : n.input()) check_ref(in, f.signature().name() + "/" + n.name());
  }
  for (const auto& [name, ref] : f.ret()) check_ref(ref, f.signature().name() + " ret " + name);
  for (const auto& [name, node] : f.control_ret()) {
    EXPECT_TRUE(nodes.count(node)) << label << ": control_ret " << name;
  }
}

void check_restore_function(const FunctionDef& f, const std::string& label) {
  const auto& sig = f.signature();
  ASSERT_GE(sig.input_arg_size(), 1) << label;
  EXPECT_EQ(sig.input_arg(0).type(), tensorflow::DT_STRING) << label;
  for (int k = 1; k < sig.input_arg_size(); ++k) {
    EXPECT_EQ(sig.input_arg(k).type(), tensorflow::DT_RESOURCE) << label;
    EXPECT_EQ(sig.input_arg(k).handle_data_size(), 1) << label << ": " << sig.input_arg(k).name();
  }
  ASSERT_EQ(sig.output_arg_size(), 1) << label;
  EXPECT_EQ(sig.output_arg(0).type(), tensorflow::DT_STRING) << label;
  const NodeDef* restore = nullptr;
  const NodeDef* names = nullptr;
  int assigns = 0;
  for (const NodeDef& n : f.node_def()) {
    if (n.op() == "RestoreV2") restore = &n;
    if (n.name() == "RestoreV2/tensor_names") names = &n;
    if (n.op() == "AssignVariableOp") {
      ++assigns;
      EXPECT_TRUE(f.control_ret().count(n.name())) << label << ": " << n.name() << " not in control_ret";
    }
  }
  ASSERT_NE(restore, nullptr) << label;
  ASSERT_NE(names, nullptr) << label;
  EXPECT_EQ(restore->input(0), sig.input_arg(0).name()) << label;
  const auto& keys = names->attr().at("value").tensor().string_val();
  ASSERT_GT(keys.size(), 0) << label;
  EXPECT_EQ(keys[keys.size() - 1], "_CHECKPOINTABLE_OBJECT_GRAPH") << label;
  EXPECT_EQ(restore->attr().at("dtypes").list().type_size(), keys.size()) << label;
  EXPECT_EQ(assigns, sig.input_arg_size() - 1) << label;
  EXPECT_EQ(sig.control_output_size(), assigns) << label;
}

}  // namespace

void check_saved_model_structure(const tensorflow::SavedModel& model, const std::string& label) {
  EXPECT_EQ(model.saved_model_schema_version(), 1) << label;
  ASSERT_EQ(model.meta_graphs_size(), 1) << label;
  const auto& meta = model.meta_graphs(0);
  ASSERT_EQ(meta.meta_info_def().tags_size(), 1) << label;
  EXPECT_EQ(meta.meta_info_def().tags(0), "serve") << label;
  EXPECT_TRUE(meta.meta_info_def().stripped_default_attrs()) << label;
  const auto& g = meta.graph_def();

  // saver_def and the nodes it names.
  const auto& saver = meta.saver_def();
  EXPECT_EQ(saver.filename_tensor_name(), "saver_filename:0") << label;
  EXPECT_EQ(saver.version(), tensorflow::SaverDef::V2) << label;
  const NodeDef* filename = find_node(g, "saver_filename");
  ASSERT_NE(filename, nullptr) << label;
  EXPECT_EQ(filename->op(), "Placeholder") << label;
  EXPECT_EQ(filename->attr().at("dtype").type(), tensorflow::DT_STRING) << label;
  EXPECT_EQ(filename->attr().at("shape").shape().dim_size(), 0) << label;
  const NodeDef* restore_call = find_node(g, saver.restore_op_name());
  ASSERT_NE(restore_call, nullptr) << label << ": restore op " << saver.restore_op_name();
  EXPECT_EQ(restore_call->input(0), "saver_filename") << label;
  const FunctionDef* restore = check_call(g, *restore_call, label);
  ASSERT_NE(restore, nullptr) << label;
  EXPECT_EQ(restore->signature().name().rfind("__inference__traced_restore_", 0), 0u) << label;
  check_restore_function(*restore, label);
  if (!saver.save_tensor_name().empty()) {
    const NodeDef* save_call = find_node(g, op_of(saver.save_tensor_name()));
    ASSERT_NE(save_call, nullptr) << label;
    const FunctionDef* save = check_call(g, *save_call, label);
    ASSERT_NE(save, nullptr) << label;
    EXPECT_EQ(save->signature().name().rfind("__inference__traced_save_", 0), 0u) << label;
    bool has_save = false;
    for (const NodeDef& n : save->node_def()) has_save = has_save || n.op() == "SaveV2";
    EXPECT_TRUE(has_save) << label;
  }

  // serving_default: placeholders named after the signature, outputs on a call op.
  ASSERT_TRUE(meta.signature_def().count("serving_default")) << label;
  const auto& sig = meta.signature_def().at("serving_default");
  EXPECT_EQ(sig.method_name(), "tensorflow/serving/predict") << label;
  for (const auto& [key, info] : sig.inputs()) {
    // Characters an op name cannot hold become '_'.
    std::string op = "serving_default_" + key;
    for (char& c : op) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && std::string("_.-/").find(c) == std::string::npos) c = '_';
    }
    EXPECT_EQ(info.name(), op + ":0") << label;
    const NodeDef* ph = find_node(g, op_of(info.name()));
    ASSERT_NE(ph, nullptr) << label << ": " << info.name();
    EXPECT_TRUE(ph->op() == "Placeholder" || ph->op() == "PlaceholderWithDefault") << label;
    EXPECT_EQ(ph->attr().at("dtype").type(), info.dtype()) << label;
  }
  for (const auto& [key, info] : sig.outputs()) {
    const NodeDef* call = find_node(g, op_of(info.name()));
    ASSERT_NE(call, nullptr) << label << ": " << info.name();
    const FunctionDef* f = check_call(g, *call, label);
    ASSERT_NE(f, nullptr) << label;
    EXPECT_EQ(f->signature().name().rfind("__inference_signature_wrapper_", 0), 0u) << label;
  }
  ASSERT_TRUE(meta.signature_def().count("__saved_model_init_op")) << label;
  const auto& init = meta.signature_def().at("__saved_model_init_op").outputs();
  ASSERT_TRUE(init.count("__saved_model_init_op")) << label;
  EXPECT_NE(find_node(g, init.at("__saved_model_init_op").name()), nullptr) << label;

  // Variables: VarHandleOps with shared_name; every function body well-formed.
  for (const NodeDef& n : g.node()) {
    if (n.op() == "VarHandleOp") {
      EXPECT_EQ(n.attr().at("shared_name").s(), n.name()) << label;
      EXPECT_TRUE(n.attr().count("dtype") && n.attr().count("shape")) << label;
    }
  }
  std::set<std::string> functions, listed;
  for (const FunctionDef& f : g.library().function()) {
    functions.insert(f.signature().name());
    check_body_references(f, label);
  }
  for (const auto& op : meta.meta_info_def().stripped_op_list().op()) listed.insert(op.name());
  auto check_listed = [&](const NodeDef& n) {
    if (!functions.count(n.op())) {
      EXPECT_TRUE(listed.count(n.op())) << label << ": op " << n.op() << " not in stripped_op_list";
    }
  };
  for (const NodeDef& n : g.node()) check_listed(n);
  for (const FunctionDef& f : g.library().function()) {
    for (const NodeDef& n : f.node_def()) check_listed(n);
  }
}

void check_checkpoint_structure(const tensorflow::SavedModel& model, const std::string& index,
                                const std::string& data, const std::string& label) {
  const DecodedTable t = decode_table(index);
  ASSERT_EQ(t.error, "") << label;
  EXPECT_EQ(t.magic, 0xdb4775248b80fb57ull) << label;
  EXPECT_EQ(t.metaindex.size, 8u) << label;
  EXPECT_EQ(t.index.restarts.size(), t.index.entries.size()) << label << ": index restart interval 1";
  std::vector<const DecodedBlock*> blocks{&t.metaindex, &t.index};
  for (const auto& b : t.data) blocks.push_back(&b);
  for (const DecodedBlock* b : blocks) {
    EXPECT_EQ(qtf::crc32c_unmask(b->stored_crc),
              qtf::crc32c(index.data() + b->offset, static_cast<size_t>(b->size) + 1))
        << label << ": block at " << b->offset;
  }

  qtf::TableEntries entries;
  ASSERT_TRUE(qtf::parse_table(index, label, &entries).is_ok()) << label;
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].first, "") << label;
  tensorflow::BundleHeaderProto header;
  ASSERT_TRUE(header.ParseFromString(entries[0].second)) << label;
  EXPECT_EQ(header.num_shards(), 1) << label;
  EXPECT_EQ(header.version().producer(), 1) << label;

  std::map<std::string, tensorflow::BundleEntryProto> by_key;
  for (size_t k = 1; k < entries.size(); ++k) {
    tensorflow::BundleEntryProto e;
    ASSERT_TRUE(e.ParseFromString(entries[k].second)) << label << ": " << entries[k].first;
    ASSERT_LE(static_cast<size_t>(e.offset() + e.size()), data.size()) << label;
    const std::string bytes = data.substr(static_cast<size_t>(e.offset()), static_cast<size_t>(e.size()));
    uint32_t crc = 0;
    if (e.dtype() == tensorflow::DT_STRING) {
      int64_t n = 1;
      for (const auto& d : e.shape().dim()) n *= d.size();
      std::vector<std::string> values;
      ASSERT_TRUE(qtf::decode_bundle_strings(bytes, n, label, &values, &crc).is_ok()) << label;
    } else {
      crc = qtf::crc32c(bytes.data(), bytes.size());
    }
    EXPECT_EQ(qtf::crc32c_unmask(e.crc32c()), crc) << label << ": " << entries[k].first;
    by_key[entries[k].first] = e;
  }
  // Every key the restore function asks for is there, with the asked dtype.
  const auto& meta = model.meta_graphs(0);
  const NodeDef* call = nullptr;
  for (const NodeDef& n : meta.graph_def().node()) {
    if (n.name() == meta.saver_def().restore_op_name()) call = &n;
  }
  ASSERT_NE(call, nullptr) << label;
  const FunctionDef* restore = find_function(meta.graph_def(), call->attr().at("f").func().name());
  ASSERT_NE(restore, nullptr) << label;
  for (const NodeDef& n : restore->node_def()) {
    if (n.op() != "RestoreV2") continue;
    const NodeDef* names = nullptr;
    for (const NodeDef& m : restore->node_def()) {
      if (m.name() == "RestoreV2/tensor_names") names = &m;
    }
    ASSERT_NE(names, nullptr) << label;
    const auto& keys = names->attr().at("value").tensor().string_val();
    const auto& dtypes = n.attr().at("dtypes").list().type();
    for (int k = 0; k < keys.size(); ++k) {
      ASSERT_TRUE(by_key.count(keys[k])) << label << ": no checkpoint entry " << keys[k];
      EXPECT_EQ(by_key.at(keys[k]).dtype(), dtypes[k]) << label << ": " << keys[k];
    }
  }
}

}  // namespace qsm_test
