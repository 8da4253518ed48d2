// The three subcommands of quarrow-models. Each writes its report to `out`,
// its errors (naming the file or op concerned) to `err`, and returns the
// process exit code: 0 success, 1 failure.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qmodels {

// "tensor_name=file.npy" from the command line.
struct TensorBinding {
  std::string tensor;
  std::string file;
};

int inspect_command(const std::string& dir, std::ostream& out, std::ostream& err);

int run_command(const std::string& dir, const std::vector<TensorBinding>& inputs,
                const std::vector<TensorBinding>& outputs, std::ostream& out, std::ostream& err);

int check_command(const std::string& model_folder, std::ostream& out, std::ostream& err);

}  // namespace qmodels
