#include "weights_file.h"

#include <rapidjson/document.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quarrow::default_models {
namespace {

qtf::Status read_whole_file(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return qtf::not_found("cannot open " + path);
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return qtf::Status::ok();
}

// Copies `count` little-endian floats starting at byte `offset` of `data`.
qtf::Status take_floats(const std::string& data, int64_t offset, int64_t count,
                        const std::string& what, std::vector<float>* out) {
  if (offset < 0 || count < 0 || offset % 4 != 0 ||
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(count) * 4 > data.size()) {
    return qtf::invalid_argument(what + " lies outside the weight file");
  }
  out->resize(static_cast<size_t>(count));
  static_assert(sizeof(float) == 4, "float32 expected");
  for (int64_t i = 0; i < count; ++i) {
    uint32_t bits = 0;
    for (int b = 3; b >= 0; --b) {
      bits = (bits << 8) | static_cast<unsigned char>(data[static_cast<size_t>(offset + 4 * i + b)]);
    }
    float v;
    std::memcpy(&v, &bits, 4);
    (*out)[static_cast<size_t>(i)] = v;
  }
  return qtf::Status::ok();
}

qtf::Status read_shape(const rapidjson::Value& v, const std::string& what,
                       std::vector<int64_t>* shape, int64_t* count) {
  if (!v.IsArray()) return qtf::invalid_argument(what + ": shape is not a list");
  shape->clear();
  *count = 1;
  for (const auto& d : v.GetArray()) {
    if (!d.IsInt64() || d.GetInt64() <= 0 || d.GetInt64() > (1 << 24)) {
      return qtf::invalid_argument(what + ": bad dimension");
    }
    shape->push_back(d.GetInt64());
    *count *= d.GetInt64();
  }
  return qtf::Status::ok();
}

qtf::Status read_tensor(const rapidjson::Value& entry, const std::string& data,
                        const std::string& what, NamedTensor* tensor) {
  if (!entry.IsObject() || !entry.HasMember("shape") || !entry.HasMember("offset") ||
      !entry["offset"].IsInt64()) {
    return qtf::invalid_argument(what + ": needs \"shape\" and \"offset\"");
  }
  int64_t count = 0;
  qtf::Status s = read_shape(entry["shape"], what, &tensor->shape, &count);
  if (!s.is_ok()) return s;
  return take_floats(data, entry["offset"].GetInt64(), count, what, &tensor->values);
}

}  // namespace

qtf::Status read_network_weights(const std::string& dir, const std::string& model,
                                 NetworkWeights* weights) {
  const std::string base = dir + "/" + model;
  std::string text, data;
  qtf::Status s = read_whole_file(base + ".json", &text);
  if (!s.is_ok()) return s;
  s = read_whole_file(base + ".bin", &data);
  if (!s.is_ok()) return s;

  rapidjson::Document doc;
  doc.Parse(text.c_str(), text.size());
  if (doc.HasParseError() || !doc.IsObject()) {
    return qtf::invalid_argument(base + ".json is not a JSON object");
  }
  if (!doc.HasMember("kind") || !doc["kind"].IsString() || !doc.HasMember("tensors") ||
      !doc["tensors"].IsArray()) {
    return qtf::invalid_argument(base + ".json needs \"kind\" and \"tensors\"");
  }
  weights->model = model;
  weights->kind = doc["kind"].GetString();
  weights->tensors.clear();
  for (const auto& entry : doc["tensors"].GetArray()) {
    if (!entry.IsObject() || !entry.HasMember("name") || !entry["name"].IsString()) {
      return qtf::invalid_argument(base + ".json: tensor without a name");
    }
    const std::string name = entry["name"].GetString();
    s = read_tensor(entry, data, base + ".json: " + name, &weights->tensors[name]);
    if (!s.is_ok()) return s;
  }
  weights->prior = NamedTensor();
  if (doc.HasMember("prior")) {
    s = read_tensor(doc["prior"], data, base + ".json: prior", &weights->prior);
    if (!s.is_ok()) return s;
  }
  weights->depth_k = 0.0f;
  if (doc.HasMember("depth_k") && doc["depth_k"].IsNumber()) {
    weights->depth_k = static_cast<float>(doc["depth_k"].GetDouble());
  }
  return qtf::Status::ok();
}

}  // namespace quarrow::default_models
