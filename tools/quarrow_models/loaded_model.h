// A SavedModel loaded through the TensorFlow C API with the tag "serve", with
// the handles released in one place, plus feed/fetch lookup by tensor name
// ("op:index" or "op", which means index 0).
#pragma once

#include <string>
#include <vector>

#include "tensorflow/c/c_api.h"

namespace qmodels {

class LoadedModel {
 public:
  LoadedModel() = default;
  ~LoadedModel();
  LoadedModel(const LoadedModel&) = delete;
  LoadedModel& operator=(const LoadedModel&) = delete;

  // Loads `dir`; `config` (may be empty) is a serialized ConfigProto. On
  // failure returns false with TensorFlow's message, naming the folder.
  bool load(const std::string& dir, const std::string& config, std::string* error);

  TF_Graph* graph() const { return graph_; }
  TF_Session* session() const { return session_; }

  // Resolves a tensor name; false with a message naming the op when the graph
  // has no such operation.
  bool find_output(const std::string& tensor_name, TF_Output* out, std::string* error) const;

  // Runs once. On success the caller owns `*outputs` (TF_DeleteTensor each).
  bool run(const std::vector<TF_Output>& feeds, const std::vector<TF_Tensor*>& values,
           const std::vector<TF_Output>& fetches, std::vector<TF_Tensor*>* outputs,
           std::string* error) const;

 private:
  std::string dir_;
  TF_SessionOptions* options_ = nullptr;
  TF_Graph* graph_ = nullptr;
  TF_Session* session_ = nullptr;
};

// Splits "op:3" into ("op", 3); a name without a numeric ":k" suffix is index 0.
void split_tensor_name(const std::string& name, std::string* op, int* index);

}  // namespace qmodels
