// `quarrow-models check`: does a model folder hold the four networks quarrow
// needs, each loading with quarrow's session config, having its input and
// output ops, and producing a float output of the right shape and size?
#include <chrono>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

#include "commands.h"
#include "loaded_model.h"

namespace qmodels {

namespace {

struct ModelContract {
  const char* folder;
  const char* input_op;
  std::vector<int64_t> output_shape;
};

const ModelContract kContracts[] = {
    {"sky_segm_model", "serving_default_input", {1, 256, 512, 1}},
    {"ground_segm_model", "serving_default_input", {1, 256, 512, 1}},
    {"indoor_depth_model", "serving_default_inputs", {1, 1, 256, 512}},
    {"outdoor_depth_model", "serving_default_inputs", {1, 1, 256, 512}},
};

// gpu_options.allow_growth = true, the config quarrow loads its models with.
const char kSessionConfig[] = {0x32, 0x02, 0x20, 0x01};
constexpr size_t kOutputBytes = 524288;

std::string shape_text(const std::vector<int64_t>& shape) {
  std::string s = "[";
  for (size_t k = 0; k < shape.size(); ++k) s += (k ? "," : "") + std::to_string(shape[k]);
  return s + "]";
}

// Loads and runs one model; returns "" when it meets its contract, otherwise
// what is wrong. `detail` receives the output description and time.
std::string check_model(const std::string& dir, const ModelContract& c, std::string* detail) {
  std::string error;
  LoadedModel model;
  if (!model.load(dir, std::string(kSessionConfig, sizeof(kSessionConfig)), &error)) return error;
  TF_Output input, output;
  if (!model.find_output(std::string(c.input_op) + ":0", &input, &error)) return error;
  if (!model.find_output("StatefulPartitionedCall:0", &output, &error)) return error;

  const int64_t dims[] = {1, 256, 512, 3};
  const size_t count = 256 * 512 * 3;
  TF_Tensor* in = TF_AllocateTensor(TF_FLOAT, dims, 4, count * sizeof(float));
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
    << shape_text(shape) << " " << bytes << " bytes, " << std::fixed << std::setprecision(1) << ms
    << " ms";
  *detail = d.str();
  if (dtype != TF_FLOAT) return "output is not float (" + *detail + ")";
  if (shape != c.output_shape) {
    return "output shape " + shape_text(shape) + ", expected " + shape_text(c.output_shape);
  }
  if (bytes != kOutputBytes) {
    return "output holds " + std::to_string(bytes) + " bytes, expected " + std::to_string(kOutputBytes);
  }
  return "";
}

}  // namespace

int check_command(const std::string& model_folder, std::ostream& out, std::ostream& err) {
  int failures = 0;
  out << std::left << std::setw(22) << "model" << std::setw(7) << "result" << "detail\n";
  for (const ModelContract& c : kContracts) {
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

}  // namespace qmodels
