// The built-in runtime's side of bench/compare/compare.py.
//
//   unet_compare_ours --export FOLDER   writes the reference U-Net for the
//       other engines: network.txt (the walk, one value per line) and raw
//       float32 files (OIHW weights and bias per layer, the NCHW input)
//   unet_compare_ours --serve [--measured]   loads the U-Net and answers
//       compare.py's requests on stdin/stdout; --measured lets the runtime
//       time convolution methods per shape instead of its reproducible
//       default (direct NHWC)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "kernels/dnnl/conv_method.h"
#include "threading/thread_pool.h"
#include "unet_layers.h"
#include "unet_savedmodel.h"

namespace {

// Builder for unet::build writing the walk as text: every step makes the
// next value from earlier ones.
//   input V N C H W | conv V FROM NAME IN OUT K RELU | pool V FROM |
//   up_concat V FROM SKIP (2x nearest, then channels of FROM, then SKIP) |
//   output V FROM
struct WalkWriter {
  using Value = int;
  std::string folder;
  std::ofstream text;
  int next = 0;
  bool ok = true;

  explicit WalkWriter(const std::string& f) : folder(f), text(f + "/network.txt") { ok = text.is_open(); }
  Value input() {
    text << "input " << next << " 1 " << unet::kInChannels << " " << unet::kHeight << " " << unet::kWidth << "\n";
    return next++;
  }
  Value conv(Value x, const unet::ConvLayer& l) {
    ok = ok && unet::write_floats(folder + "/" + l.name + ".weights.f32", unet::weights_oihw(l)) &&
         unet::write_floats(folder + "/" + l.name + ".bias.f32", unet::bias(l));
    text << "conv " << next << " " << x << " " << l.name << " " << l.in_c << " " << l.out_c << " " << l.k << " "
         << (l.relu ? 1 : 0) << "\n";
    return next++;
  }
  Value pool(Value x) {
    text << "pool " << next << " " << x << "\n";
    return next++;
  }
  Value up_concat(Value x, Value skip) {
    text << "up_concat " << next << " " << x << " " << skip << "\n";
    return next++;
  }
  void output(Value x) { text << "output " << next++ << " " << x << "\n"; }
};

int export_network(const std::string& folder) {
  WalkWriter w(folder);
  unet::build(w);
  w.text.close();
  const std::vector<float> x = unet::nhwc_to_nchw(unet::input_nhwc(), unet::kHeight, unet::kWidth, unet::kInChannels);
  if (!w.ok || !w.text || !unet::write_floats(folder + "/input_nchw.f32", x)) {
    std::fprintf(stderr, "cannot write the network into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}

int serve(bool measured) {
  if (measured) qtf::set_conv_method_policy(qtf::ConvMethodPolicy::kFastestMeasured);
  const std::string dir = unet::write_savedmodel();
  if (dir.empty()) {
    std::fprintf(stderr, "cannot write the U-Net SavedModel\n");
    return 1;
  }
  auto model = std::make_unique<unet::Model>(dir, std::vector<int64_t>{1, unet::kHeight, unet::kWidth,
                                                                       unet::kInChannels},
                                             unet::input_nhwc());
  std::filesystem::remove_all(dir);
  std::vector<float> output;
  if (!model->error().empty() || !model->run(&output)) {
    std::fprintf(stderr, "runtime failed: %s\n", model->error().c_str());
    return 1;
  }
  std::printf("ready %d\n", qtf::ThreadPool::global().size());
  for (std::string line; std::getline(std::cin, line);) {
    if (line == "run") {
      const double cpu0 = unet::Model::process_cpu_ms();
      const auto t0 = std::chrono::steady_clock::now();
      if (!model->run(&output)) {
        std::fprintf(stderr, "runtime failed: %s\n", model->error().c_str());
        return 1;
      }
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      std::printf("ms %.3f cpu %.3f\n", ms, unet::Model::process_cpu_ms() - cpu0);
    } else if (line.rfind("save ", 0) == 0) {
      if (!unet::write_floats(line.substr(5), output)) return 1;
      std::printf("saved\n");
    } else {
      break;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each answer reaches the pipe at once
  if (argc == 3 && std::strcmp(argv[1], "--export") == 0) return export_network(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "--serve") == 0) {
    return serve(argc == 3 && std::strcmp(argv[2], "--measured") == 0);
  }
  std::fprintf(stderr, "usage: unet_compare_ours --export FOLDER | --serve [--measured]\n");
  return 2;
}
