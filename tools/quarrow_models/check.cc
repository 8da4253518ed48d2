// `quarrow-models check`: does a model folder hold the four networks quarrow
// needs, each loading with quarrow's session config, having its input and
// output ops, and producing a float output of the right shape and size?
#include <chrono>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

#include "commands.h"
#include "inference/network_contract.h"
#include "loaded_model.h"
#include "model_roles.h"

namespace quarrow::models {

std::string check_model(const std::string& dir, const ModelRole& role, std::string* detail) {
  std::string error;
  quarrow::LoadedModel model;
  if (!model.load(dir, std::string(quarrow::kSessionConfig, sizeof(quarrow::kSessionConfig)), &error)) return error;
  TF_Output input, output;
  if (!model.find_output(role.input_op + ":0", &input, &error)) return error;
  if (!model.find_output(network_output_op() + ":0", &output, &error)) return error;

  const std::vector<int64_t> dims = network_input_shape();
  size_t count = 1;
  for (int64_t d : dims) count *= static_cast<size_t>(d);
  TF_Tensor* in = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), count * sizeof(float));
  // A smooth, normalised-image-like pattern in about [-2, 2].
  auto* data = static_cast<float*>(TF_TensorData(in));
  for (size_t k = 0; k < count; ++k) data[k] = static_cast<float>(static_cast<int>(k % 401) - 200) / 100.0f;
  std::vector<TF_Tensor*> outputs;
  const auto start = std::chrono::steady_clock::now();
  const bool ran = model.run({input}, {in}, {output}, &outputs, &error);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  TF_DeleteTensor(in);
  if (!ran) return error;
  TF_Tensor* out = outputs[0];
  std::vector<int64_t> shape;
  for (int k = 0; k < TF_NumDims(out); ++k) shape.push_back(TF_Dim(out, k));
  const TF_DataType dtype = TF_TensorType(out);
  const size_t bytes = TF_TensorByteSize(out);
  TF_DeleteTensor(out);
  std::ostringstream d;
  d << (dtype == TF_FLOAT ? "float" : "type " + std::to_string(static_cast<int>(dtype))) << " "
    << dims_text(shape) << " " << bytes << " bytes, " << std::fixed << std::setprecision(1) << ms
    << " ms";
  *detail = d.str();
  if (dtype != TF_FLOAT) return "output is not float (" + *detail + ")";
  if (shape != role.output_shape) {
    return "output shape " + dims_text(shape) + ", expected " + dims_text(role.output_shape);
  }
  const size_t want = count / 3 * sizeof(float);
  if (bytes != want) {
    return "output holds " + std::to_string(bytes) + " bytes, expected " + std::to_string(want);
  }
  return "";
}

int check_command(const std::string& model_folder, std::ostream& out, std::ostream& err) {
  int failures = 0;
  out << std::left << std::setw(22) << "model" << std::setw(7) << "result" << "detail\n";
  for (const ModelRole& c : model_roles()) {
    const std::string dir = model_folder + "/" + c.folder;
    std::string detail;
    const std::string problem = check_model(dir, c, &detail);
    out << std::left << std::setw(22) << c.folder << std::setw(7) << (problem.empty() ? "ok" : "FAIL")
        << (problem.empty() ? detail : problem) << "\n";
    if (!problem.empty()) {
      err << "quarrow-models: " << c.folder << ": " << problem << "\n";
      ++failures;
    }
  }
  out << (failures == 0 ? "all four models meet the contract\n"
                        : std::to_string(failures) + " of 4 models fail the contract\n");
  return failures == 0 ? 0 : 1;
}

}  // namespace quarrow::models
