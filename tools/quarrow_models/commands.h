// The subcommands of quarrow-models. Each writes its report to `out`,
// its errors (naming the file or op concerned) to `err`, and returns the
// process exit code: 0 success, 1 failure.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "adapt_output.h"
#include "model_roles.h"

namespace quarrow::models {

// "tensor_name=file.npy" from the command line.
struct TensorBinding {
  std::string tensor;
  std::string file;
};

int inspect_command(const std::string& dir, std::ostream& out, std::ostream& err);

int run_command(const std::string& dir, const std::vector<TensorBinding>& inputs,
                const std::vector<TensorBinding>& outputs, std::ostream& out, std::ostream& err);

int check_command(const std::string& model_folder, std::ostream& out, std::ostream& err);

// Loads and runs one model as quarrow does for `role`; returns "" when it
// meets the contract, otherwise what is wrong. `detail` receives the output
// description and the run time.
std::string check_model(const std::string& dir, const ModelRole& role, std::string* detail);

struct AdaptRequest {
  std::string source, destination;
  const ModelRole* role = nullptr;
  std::string input_layout;  // "", "nhwc" or "nchw"
  std::string output;        // signature output key; "" = the only one
  ScoreChoice score;
};

int adapt_command(const AdaptRequest& request, std::ostream& out, std::ostream& err);

}  // namespace quarrow::models
