// `quarrow-models run`: feeds .npy files to named tensors, runs once, and
// writes the fetched tensors as .npy files.
#include <cstring>
#include <memory>

#include "commands.h"
#include "loaded_model.h"
#include "npy.h"

namespace quarrow::models {

namespace {

struct TensorList {
  std::vector<TF_Tensor*> tensors;
  ~TensorList() {
    for (TF_Tensor* t : tensors) {
      if (t != nullptr) TF_DeleteTensor(t);
    }
  }
};

TF_Tensor* tensor_from_npy(const NpyArray& array) {
  const int64_t* dims = array.shape.empty() ? nullptr : array.shape.data();
  TF_Tensor* t = TF_AllocateTensor(array.dtype, dims, static_cast<int>(array.shape.size()),
                                   array.data.size());
  if (t != nullptr && !array.data.empty()) std::memcpy(TF_TensorData(t), array.data.data(), array.data.size());
  return t;
}

bool npy_from_tensor(const TF_Tensor* t, const std::string& name, NpyArray* array, std::string* error) {
  array->dtype = TF_TensorType(t);
  if (npy_descr(array->dtype).empty()) {
    *error = "output " + name + " has element type " + std::to_string(static_cast<int>(array->dtype)) +
             ", which has no .npy form here";
    return false;
  }
  array->shape.clear();
  for (int k = 0; k < TF_NumDims(t); ++k) array->shape.push_back(TF_Dim(t, k));
  const size_t want = static_cast<size_t>(array->num_elements()) * TF_DataTypeSize(array->dtype);
  if (TF_TensorByteSize(t) < want) {
    *error = "output " + name + " holds " + std::to_string(TF_TensorByteSize(t)) +
             " bytes, its shape needs " + std::to_string(want);
    return false;
  }
  array->data.assign(static_cast<const char*>(TF_TensorData(t)), want);
  return true;
}

}  // namespace

int run_command(const std::string& dir, const std::vector<TensorBinding>& inputs,
                const std::vector<TensorBinding>& outputs, std::ostream& out, std::ostream& err) {
  std::string error;
  // Read every input file before loading, so a typo fails fast.
  std::vector<NpyArray> arrays(inputs.size());
  for (size_t k = 0; k < inputs.size(); ++k) {
    if (!read_npy(inputs[k].file, &arrays[k], &error)) {
      err << "quarrow-models: " << error << "\n";
      return 1;
    }
  }
  quarrow::LoadedModel model;
  if (!model.load(dir, "", &error)) {
    err << "quarrow-models: " << error << "\n";
    return 1;
  }
  std::vector<TF_Output> feeds, fetches;
  TensorList values;
  for (size_t k = 0; k < inputs.size(); ++k) {
    TF_Output o;
    if (!model.find_output(inputs[k].tensor, &o, &error)) {
      err << "quarrow-models: input " << inputs[k].tensor << ": " << error << "\n";
      return 1;
    }
    feeds.push_back(o);
    values.tensors.push_back(tensor_from_npy(arrays[k]));
  }
  for (const TensorBinding& b : outputs) {
    TF_Output o;
    if (!model.find_output(b.tensor, &o, &error)) {
      err << "quarrow-models: output " << b.tensor << ": " << error << "\n";
      return 1;
    }
    fetches.push_back(o);
  }
  TensorList results;
  if (!model.run(feeds, values.tensors, fetches, &results.tensors, &error)) {
    err << "quarrow-models: " << error << "\n";
    return 1;
  }
  for (size_t k = 0; k < outputs.size(); ++k) {
    NpyArray array;
    if (!npy_from_tensor(results.tensors[k], outputs[k].tensor, &array, &error) ||
        !write_npy(outputs[k].file, array, &error)) {
      err << "quarrow-models: " << error << "\n";
      return 1;
    }
    out << outputs[k].tensor << ": " << npy_descr(array.dtype) << " (";
    for (size_t d = 0; d < array.shape.size(); ++d) out << (d ? "," : "") << array.shape[d];
    out << ") -> " << outputs[k].file << "\n";
  }
  return 0;
}

}  // namespace quarrow::models
