// Serialized TrackableObjectGraph for the variables of a written model.
#include "object_graph.h"

#include <map>
#include <memory>

#include "util/coding.h"

namespace qsm {

namespace {

std::vector<std::string> split_path(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t slash = name.find('/', start);
    parts.push_back(name.substr(start, slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

std::string escape(const std::string& component) {
  std::string out;
  for (char c : component) {
    if (c == '.') out += "..";
    else out += c;
  }
  return out;
}

// Protobuf wire helpers: the object graph message is small and has no
// generated class in the runtime's schema.
void put_tag(std::string* out, int field, int wire) { qtf::put_varint64(out, (field << 3) | wire); }
void put_bytes(std::string* out, int field, const std::string& bytes) {
  put_tag(out, field, 2);
  qtf::put_varint64(out, bytes.size());
  out->append(bytes);
}
void put_int(std::string* out, int field, uint64_t v) {
  put_tag(out, field, 0);
  qtf::put_varint64(out, v);
}

struct ObjectNode {
  std::map<std::string, std::unique_ptr<ObjectNode>> children;  // by local name
  std::string variable;  // full variable name when this object is a variable
  int id = 0;
};

}  // namespace

std::string variable_checkpoint_key(const std::string& variable_name) {
  std::string key;
  for (const std::string& part : split_path(variable_name)) key += escape(part) + "/";
  return key + ".ATTRIBUTES/VARIABLE_VALUE";
}

std::string object_graph_bytes(const std::vector<std::string>& variable_names) {
  ObjectNode root;
  for (const std::string& name : variable_names) {
    ObjectNode* node = &root;
    for (const std::string& part : split_path(name)) {
      auto& child = node->children[part];
      if (!child) child = std::make_unique<ObjectNode>();
      node = child.get();
    }
    node->variable = name;
  }
  // Ids in breadth-first order, as TensorFlow numbers the objects.
  std::vector<ObjectNode*> order{&root};
  for (size_t k = 0; k < order.size(); ++k) {
    order[k]->id = static_cast<int>(k);
    for (auto& entry : order[k]->children) order.push_back(entry.second.get());
  }
  std::string graph;
  for (ObjectNode* node : order) {
    std::string object;
    for (auto& [local_name, child] : node->children) {
      std::string reference;
      put_int(&reference, 1, static_cast<uint64_t>(child->id));
      put_bytes(&reference, 2, local_name);
      put_bytes(&object, 1, reference);
    }
    if (!node->variable.empty()) {
      std::string attribute;
      put_bytes(&attribute, 1, "VARIABLE_VALUE");
      put_bytes(&attribute, 2, node->variable);
      put_bytes(&attribute, 3, variable_checkpoint_key(node->variable));
      put_bytes(&object, 2, attribute);
    }
    std::string has_values;  // google.protobuf.BoolValue{true}
    put_int(&has_values, 1, 1);
    put_bytes(&object, 5, has_values);
    put_bytes(&graph, 1, object);
  }
  return graph;
}

}  // namespace qsm
