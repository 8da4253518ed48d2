// quarrow-models: inspect, run and check SavedModels through the TensorFlow C API.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  quarrow-models inspect <saved_model_dir>\n"
    "      tags, signatures, the ops of the serving path (unsupported ones marked) and\n"
    "      the variables of a SavedModel\n"
    "  quarrow-models run <saved_model_dir> [--input TENSOR=in.npy]... --output TENSOR=out.npy...\n"
    "      feeds .npy files, runs once, writes the fetched tensors as .npy\n"
    "      (TENSOR is \"op:index\" or \"op\"; .npy types <f4 <f8 <i4 <i8 |u1 |b1)\n"
    "  quarrow-models check <model_folder>\n"
    "      loads and runs sky_segm_model, ground_segm_model, indoor_depth_model and\n"
    "      outdoor_depth_model on a [1,256,512,3] float input and checks their outputs\n"
    "  quarrow-models adapt <source_dir> <new_dir> --role sky|ground|indoor_depth|outdoor_depth\n"
    "        [--input-layout nchw|nhwc] [--output NAME] [--score softmax:CLASS|sigmoid[:CLASS]|identity[:CLASS]]\n"
    "      writes a SavedModel that wraps the source's serving function so that it meets the\n"
    "      role's contract (input name and layout, output name, shape and scores), then checks it\n"
    "exit code: 0 success, 1 failure, 2 bad arguments\n";

int usage(const std::string& problem) {
  std::cerr << "quarrow-models: " << problem << "\n" << kUsage;
  return 2;
}

bool parse_binding(const std::string& text, quarrow::models::TensorBinding* b) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) return false;
  b->tensor = text.substr(0, eq);
  b->file = text.substr(eq + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage("no command given");
  const std::string& command = args[0];
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "inspect" || command == "check") {
    if (args.size() != 2) return usage(command + " takes exactly one folder");
    return command == "inspect" ? quarrow::models::inspect_command(args[1], std::cout, std::cerr)
                                : quarrow::models::check_command(args[1], std::cout, std::cerr);
  }
  if (command == "run") {
    if (args.size() < 2) return usage("run needs a SavedModel folder");
    std::vector<quarrow::models::TensorBinding> inputs, outputs;
    for (size_t k = 2; k < args.size(); ++k) {
      const std::string& flag = args[k];
      if (flag != "--input" && flag != "--output") return usage("unknown argument '" + flag + "'");
      if (k + 1 >= args.size()) return usage(flag + " needs TENSOR=file.npy");
      quarrow::models::TensorBinding b;
      if (!parse_binding(args[++k], &b)) return usage("'" + args[k] + "' is not TENSOR=file.npy");
      (flag == "--input" ? inputs : outputs).push_back(b);
    }
    if (outputs.empty()) return usage("run needs at least one --output");
    return quarrow::models::run_command(args[1], inputs, outputs, std::cout, std::cerr);
  }
  if (command == "adapt") {
    if (args.size() < 3) return usage("adapt needs a source and a new folder");
    quarrow::models::AdaptRequest request;
    request.source = args[1];
    request.destination = args[2];
    for (size_t k = 3; k < args.size(); k += 2) {
      const std::string& flag = args[k];
      if (k + 1 >= args.size()) return usage(flag + " needs a value");
      const std::string& value = args[k + 1];
      std::string error;
      if (flag == "--role") {
        request.role = quarrow::models::find_role(value);
        if (request.role == nullptr) return usage("unknown role '" + value + "'");
      } else if (flag == "--input-layout") {
        if (value != "nchw" && value != "nhwc") return usage("--input-layout is nchw or nhwc, not '" + value + "'");
        request.input_layout = value;
      } else if (flag == "--output") {
        request.output = value;
      } else if (flag == "--score") {
        if (!quarrow::models::parse_score(value, &request.score, &error)) return usage(error);
      } else {
        return usage("unknown argument '" + flag + "'");
      }
    }
    if (request.role == nullptr) return usage("adapt needs --role");
    return quarrow::models::adapt_command(request, std::cout, std::cerr);
  }
  return usage("unknown command '" + command + "'");
}
