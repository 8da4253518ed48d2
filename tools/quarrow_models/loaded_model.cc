// LoadedModel: C API session lifetime and tensor-name lookup.
#include "loaded_model.h"

#include <cctype>

namespace qmodels {

void split_tensor_name(const std::string& name, std::string* op, int* index) {
  const size_t colon = name.rfind(':');
  *op = name;
  *index = 0;
  if (colon == std::string::npos || colon + 1 == name.size() || name.size() - colon > 9) return;
  for (size_t k = colon + 1; k < name.size(); ++k) {
    if (!std::isdigit(static_cast<unsigned char>(name[k]))) return;
  }
  *op = name.substr(0, colon);
  *index = std::stoi(name.substr(colon + 1));
}

LoadedModel::~LoadedModel() {
  if (session_ != nullptr) {
    TF_Status* status = TF_NewStatus();
    TF_CloseSession(session_, status);
    TF_DeleteSession(session_, status);
    TF_DeleteStatus(status);
  }
  if (graph_ != nullptr) TF_DeleteGraph(graph_);
  if (options_ != nullptr) TF_DeleteSessionOptions(options_);
}

bool LoadedModel::load(const std::string& dir, const std::string& config, std::string* error) {
  dir_ = dir;
  options_ = TF_NewSessionOptions();
  graph_ = TF_NewGraph();
  TF_Status* status = TF_NewStatus();
  if (!config.empty()) {
    TF_SetConfig(options_, config.data(), config.size(), status);
    if (TF_GetCode(status) != TF_OK) {
      *error = dir + ": session config rejected: " + TF_Message(status);
      TF_DeleteStatus(status);
      return false;
    }
  }
  const char* tags[] = {"serve"};
  session_ = TF_LoadSessionFromSavedModel(options_, nullptr, dir.c_str(), tags, 1, graph_, nullptr,
                                          status);
  const bool ok = TF_GetCode(status) == TF_OK && session_ != nullptr;
  if (!ok) {
    *error = dir + ": load failed (code " + std::to_string(static_cast<int>(TF_GetCode(status))) +
             "): " + TF_Message(status);
    session_ = nullptr;
  }
  TF_DeleteStatus(status);
  return ok;
}

bool LoadedModel::find_output(const std::string& tensor_name, TF_Output* out,
                              std::string* error) const {
  std::string op;
  int index = 0;
  split_tensor_name(tensor_name, &op, &index);
  TF_Operation* oper = graph_ == nullptr ? nullptr : TF_GraphOperationByName(graph_, op.c_str());
  if (oper == nullptr) {
    *error = "no operation '" + op + "' in " + dir_;
    return false;
  }
  *out = TF_Output{oper, index};
  return true;
}

bool LoadedModel::run(const std::vector<TF_Output>& feeds, const std::vector<TF_Tensor*>& values,
                      const std::vector<TF_Output>& fetches, std::vector<TF_Tensor*>* outputs,
                      std::string* error) const {
  outputs->assign(fetches.size(), nullptr);
  TF_Status* status = TF_NewStatus();
  TF_SessionRun(session_, nullptr, feeds.data(), values.data(), static_cast<int>(feeds.size()),
                fetches.data(), outputs->data(), static_cast<int>(fetches.size()), nullptr, 0,
                nullptr, status);
  const bool ok = TF_GetCode(status) == TF_OK;
  if (!ok) {
    *error = dir_ + ": run failed (code " + std::to_string(static_cast<int>(TF_GetCode(status))) +
             "): " + TF_Message(status);
    for (TF_Tensor*& t : *outputs) {
      if (t != nullptr) TF_DeleteTensor(t);
      t = nullptr;
    }
  }
  TF_DeleteStatus(status);
  return ok;
}

}  // namespace qmodels
