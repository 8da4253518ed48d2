// The reference U-Net (unet_layers.h, about 10.7 GFLOP on 1x256x512x3)
// through the built-in runtime's C API against OpenCV's DNN module on the
// same weights, plus the 3x3 convolution throughput against the machine's
// FP32 peak, all measured in the same run.
//
// The program first prints a summary (GFLOP, both medians and their ratio,
// the largest output difference, peak and convolution GFLOP/s), then runs
// the Google Benchmark cases. OpenCV runs in the helper process
// unet_reference_opencv (see opencv_unet.cc for why).
//
//   bench_unet_reference [--runs=N] [--no_summary] [benchmark flags]
//
// ONEDNN_MAX_CPU_ISA=AVX2 measures the AVX2 kernels (and the AVX2 peak) on
// an AVX-512 machine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "exec/step_timing.h"
#include "fma_peak.h"
#include "kernels/dnnl/conv_method.h"
#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"
#include "threading/thread_pool.h"
#include "unet_layers.h"
#include "unet_savedmodel.h"

namespace {

using qsm::ModelBuilder;
using qsm::Output;

using unet::Model;

struct Timing {
  double median_ms = 0, min_ms = 0;
  double cpu_ms = 0;  // process CPU time (all threads) per run
};

// Times `runs` runs of each model after one warm-up run each, taking the
// models in turn so that all of them see the same machine load.
bool time_interleaved(const std::vector<Model*>& models, int runs, std::vector<Timing>* out) {
  for (Model* m : models) {
    if (!m->run()) return false;
  }
  std::vector<std::vector<double>> ms(models.size());
  std::vector<double> cpu(models.size(), 0.0);
  for (int i = 0; i < runs; ++i) {
    for (size_t k = 0; k < models.size(); ++k) {
      const double cpu0 = Model::process_cpu_ms();
      const auto t0 = std::chrono::steady_clock::now();
      if (!models[k]->run()) return false;
      ms[k].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      cpu[k] += Model::process_cpu_ms() - cpu0;
    }
  }
  out->assign(models.size(), Timing());
  for (size_t k = 0; k < models.size(); ++k) {
    std::sort(ms[k].begin(), ms[k].end());
    (*out)[k] = Timing{ms[k][ms[k].size() / 2], ms[k].front(), cpu[k] / runs};
  }
  return true;
}

// Shapes of the single-convolution throughput model.
constexpr int kConvH = 128, kConvW = 256, kConvC = 64;

double conv_gflop() { return 2.0 * 9 * kConvC * kConvC * kConvH * kConvW * 1e-9; }

// A lone 3x3 Conv2D (no bias or activation), 64 -> 64 channels on 128x256.
std::string write_conv() {
  ModelBuilder b;
  Output x = b.input("input", TF_FLOAT, {1, kConvH, kConvW, kConvC});
  std::vector<float> w(static_cast<size_t>(9 * kConvC * kConvC));
  for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<float>(static_cast<int>(i % 17) - 8) * 0.01f;
  Output y = b.op("Conv2D", {x, b.variable("conv/kernel", {3, 3, kConvC, kConvC}, w)},
                  {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}});
  b.output("output_0", y, {1, kConvH, kConvW, kConvC});
  const std::string dir = unet::make_temp_dir();
  if (dir.empty() || !b.save(dir).is_ok()) return "";
  return dir;
}

std::vector<float> conv_input() {
  std::vector<float> x(static_cast<size_t>(kConvH * kConvW * kConvC));
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
  return x;
}

void remove_dir(const std::string& dir) {
  if (dir.empty()) return;
  const std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

std::string self_dir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

// Runs the OpenCV helper; fills its median/min and output.
bool run_opencv(int runs, const std::string& out_path, double* median_ms, double* min_ms, double* cpu_ms,
                int* threads, std::vector<float>* out) {
  const std::string cmd = "'" + self_dir() + "/unet_reference_opencv' '" + out_path + "' " + std::to_string(runs);
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return false;
  char line[256] = {0};
  bool parsed = false;
  while (std::fgets(line, sizeof(line), p) != nullptr) {
    if (std::sscanf(line, "opencv_ms %lf %lf cpu_ms %lf threads %d", median_ms, min_ms, cpu_ms, threads) == 4) {
      parsed = true;
    }
  }
  const int rc = pclose(p);
  return parsed && rc == 0 && unet::read_floats(out_path, out);
}

double load_average() {
  double l = -1;
  FILE* f = std::fopen("/proc/loadavg", "r");
  if (f != nullptr) {
    if (std::fscanf(f, "%lf", &l) != 1) l = -1;
    std::fclose(f);
  }
  return l;
}

// Step times of the runtime's runs, per node, one vector entry per run.
class StepTimes : public qtf::StepRecorder {
 public:
  void record(const std::string& node, const std::string& op, double ms) override {
    std::vector<double>& v = ms_[node];
    if (v.size() < static_cast<size_t>(run_ + 1)) v.resize(static_cast<size_t>(run_ + 1), 0.0);
    v[static_cast<size_t>(run_)] += ms;
    op_[node] = op;
  }
  void next_run() { ++run_; }
  int runs() const { return run_; }
  const std::map<std::string, std::vector<double>>& ms() const { return ms_; }
  const std::string& op(const std::string& node) const { return op_.at(node); }

 private:
  int run_ = 0;
  std::map<std::string, std::vector<double>> ms_;
  std::map<std::string, std::string> op_;
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The method the runtime chose for a layer's convolution (the latest choice
// of a node of that layer) and the CPU ms the timed candidates took.
std::string chosen_method(const std::string& layer) {
  std::string text = "?";
  for (const qtf::ConvMethodChoice& c : qtf::conv_method_choices()) {
    if (c.where.find("'" + layer + "/") == std::string::npos) continue;
    text = qtf::conv_method_name(c.method);
    std::string timed;
    for (const auto& [method, ms] : c.candidate_ms) {
      char part[64];
      std::snprintf(part, sizeof(part), "%s%s %.2f", timed.empty() ? "" : ", ", qtf::conv_method_name(method), ms);
      timed += part;
    }
    if (!timed.empty()) text += " (" + timed + ")";
  }
  return text;
}

// Runs the model `runs` times with every step timed and prints each
// convolution layer's GFLOP/s and share of `peak`, then the other steps by op.
void print_layers(Model& m, int runs, double peak, int cores) {
  StepTimes times;
  qtf::set_step_recorder(&times);
  for (int i = 0; i < runs && m.run(); ++i) times.next_run();
  qtf::set_step_recorder(nullptr);
  if (times.runs() == 0) return;
  // Sum per run over the steps of each layer ("<layer>/..."), then median.
  const auto layer_ms = [&](const std::string& layer) {
    std::vector<double> per_run(static_cast<size_t>(times.runs()), 0.0);
    for (const auto& [node, ms] : times.ms()) {
      if (node.rfind(layer + "/", 0) != 0) continue;
      for (size_t r = 0; r < ms.size() && r < per_run.size(); ++r) per_run[r] += ms[r];
    }
    return median(per_run);
  };
  std::printf("per layer (median of %d runs, each step timed; %% of the %d-core peak of %.1f GFLOP/s):\n",
              times.runs(), cores, peak);
  std::printf("  %-6s %9s %8s %7s %8s %8s %5s  %s\n", "layer", "channels", "size", "GFLOP", "ms", "GFLOP/s",
              "peak", "method (candidates timed at the first run, CPU ms)");
  double conv_total = 0;
  for (const unet::ConvLayer& l : unet::conv_layers()) {
    const double gflop = 2.0 * l.k * l.k * l.in_c * l.out_c * static_cast<double>(l.height) * l.width * 1e-9;
    const double ms = layer_ms(l.name);
    conv_total += ms;
    const std::string channels = std::to_string(l.in_c) + "->" + std::to_string(l.out_c);
    const std::string size = std::to_string(l.height) + "x" + std::to_string(l.width);
    std::printf("  %-6s %9s %8s %7.3f %8.3f %8.1f %4.0f%%  %s\n", l.name.c_str(), channels.c_str(), size.c_str(),
                gflop, ms, gflop / ms * 1e3, 100.0 * gflop / ms * 1e3 / peak, chosen_method(l.name).c_str());
  }
  // Steps outside the layers, by op.
  std::map<std::string, std::vector<double>> by_op;
  for (const auto& [node, ms] : times.ms()) {
    bool in_layer = false;
    for (const unet::ConvLayer& l : unet::conv_layers()) in_layer = in_layer || node.rfind(l.name + "/", 0) == 0;
    if (in_layer) continue;
    std::vector<double>& v = by_op[times.op(node)];
    v.resize(std::max(v.size(), ms.size()), 0.0);
    for (size_t r = 0; r < ms.size(); ++r) v[r] += ms[r];
  }
  double other_total = 0;
  std::printf("  convolutions: %.2f ms, %.1f GFLOP/s; other steps:", conv_total, unet::gflop() / conv_total * 1e3);
  for (const auto& [op, ms] : by_op) {
    const double med = median(ms);
    other_total += med;
    std::printf(" %s %.2f ms,", op.c_str(), med);
  }
  std::printf(" together %.2f ms\n", other_total);
}

int summary(int runs) {
  const double gflop = unet::gflop();
  std::printf("reference U-Net: 1x%dx%dx%d input, %zu convolutions, %.4f GFLOP\n", unet::kHeight,
              unet::kWidth, unet::kInChannels, unet::conv_layers().size(), gflop);
  // The runtime's pool (and so oneDNN) runs this many threads.
  const int threads = qtf::ThreadPool::global().size();
  std::printf("load average at start: %.2f, runtime threads: %d\n", load_average(), threads);

  const std::string dir = unet::write_savedmodel();
  if (dir.empty()) {
    std::fprintf(stderr, "cannot write the U-Net SavedModel\n");
    return 1;
  }
  std::vector<float> ours, ours_direct, ours_default;
  const std::vector<int64_t> dims{1, unet::kHeight, unet::kWidth, unet::kInChannels};
  // The same network with every convolution on the direct NHWC kernel (the
  // runtime before it chose methods per shape), for a before/after in one run.
  qtf::set_conv_method_override(qtf::ConvMethod::kDirectNhwc);
  auto direct_model = std::make_unique<Model>(dir, dims, unet::input_nhwc());
  const bool direct_ok = direct_model->error().empty() && direct_model->run(&ours_direct);
  qtf::set_conv_method_override(std::nullopt);
  // What quarrow runs: the method follows from the shape, reproducibly.
  auto default_model = std::make_unique<Model>(dir, dims, unet::input_nhwc());
  const bool default_ok = default_model->error().empty() && default_model->run(&ours_default);
  // The measured choice per shape, which benchmarks ask for.
  qtf::set_conv_method_policy(qtf::ConvMethodPolicy::kFastestMeasured);
  // Kept for the per-layer table, which needs the peak measured first.
  auto unet_model = std::make_unique<Model>(dir, dims, unet::input_nhwc());
  std::vector<Timing> t;
  if (!direct_ok || !default_ok || !unet_model->error().empty() || !unet_model->run(&ours) ||
      !time_interleaved({unet_model.get(), direct_model.get(), default_model.get()}, runs, &t)) {
    std::fprintf(stderr, "runtime failed: %s%s%s\n", unet_model->error().c_str(), direct_model->error().c_str(),
                 default_model->error().c_str());
    remove_dir(dir);
    return 1;
  }
  direct_model.reset();
  default_model.reset();
  const double ours_med = t[0].median_ms, ours_min = t[0].min_ms, ours_cpu = t[0].cpu_ms;
  std::vector<float> theirs;
  double cv_med = 0, cv_min = 0, cv_cpu = 0;
  int cv_threads = 0;
  const bool cv_ok = run_opencv(runs, dir + "/opencv_output.f32", &cv_med, &cv_min, &cv_cpu, &cv_threads, &theirs);
  remove_dir(dir);
  std::printf("runtime (C API): median %.1f ms, min %.1f ms, %.1f GFLOP/s; CPU %.1f ms per run\n", ours_med,
              ours_min, gflop / ours_med * 1e3, ours_cpu);
  const auto max_abs_diff = [&ours](const std::vector<float>& other) {
    double diff = 0;
    for (size_t i = 0; i < ours.size() && i < other.size(); ++i) {
      diff = std::max(diff, static_cast<double>(std::fabs(ours[i] - other[i])));
    }
    return diff;
  };
  std::printf("runtime, direct NHWC convolutions only (interleaved): median %.1f ms, min %.1f ms; CPU %.1f ms per "
              "run; per-shape choice is %.2fx faster (medians), %.2fx (CPU time); outputs max |diff| %.3g\n",
              t[1].median_ms, t[1].min_ms, t[1].cpu_ms, t[1].median_ms / ours_med, t[1].cpu_ms / ours_cpu,
              max_abs_diff(ours_direct));
  std::printf("runtime, default (method by shape, interleaved): median %.1f ms, min %.1f ms, %.1f GFLOP/s; CPU %.1f "
              "ms per run; outputs max |diff| %.3g\n",
              t[2].median_ms, t[2].min_ms, gflop / t[2].median_ms * 1e3, t[2].cpu_ms, max_abs_diff(ours_default));
  if (!cv_ok || theirs.size() != ours.size()) {
    std::fprintf(stderr, "OpenCV DNN run failed or gave %zu values (expected %zu)\n", theirs.size(), ours.size());
    return 1;
  }
  double max_diff = 0, max_abs = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    max_diff = std::max(max_diff, static_cast<double>(std::fabs(ours[i] - theirs[i])));
    max_abs = std::max(max_abs, static_cast<double>(std::fabs(theirs[i])));
  }
  std::printf("OpenCV DNN (%d threads): median %.1f ms, min %.1f ms, %.1f GFLOP/s; CPU %.1f ms per run\n",
              cv_threads, cv_med, cv_min, gflop / cv_med * 1e3, cv_cpu);
  std::printf("speed-up over OpenCV DNN: %.2fx (medians), %.2fx (minima), %.2fx (CPU time)\n", cv_med / ours_med,
              cv_min / ours_min, cv_cpu / ours_cpu);
  std::printf("outputs: max |diff| %.3g, max |value| %.3g -> %s\n", max_diff, max_abs,
              max_diff <= 1e-3 * std::max(1.0, max_abs) ? "agree" : "DISAGREE");

  const unet::PeakRate peak1 = unet::fma_peak(1, 0.5);
  const unet::PeakRate peak2 = unet::fma_peak(2, 0.5);
  std::printf("FP32 peak (%s loop): %.1f GFLOP/s on one core, %.1f on two (elapsed time); "
              "%.1f GFLOP per CPU-second\n",
              unet::fma_loop().name, peak1.wall, peak2.wall, peak2.per_cpu);
  // The runtime's share of the peak of as many cores as it runs threads on.
  const int cores = std::min(2, threads);
  const double peak = cores == 1 ? peak1.wall : peak2.wall;
  std::printf("reference U-Net on %d thread(s): %.0f%% of the %d-core peak (median), %.0f%% per CPU-second; "
              "default methods %.0f%%, direct NHWC only %.0f%%\n",
              threads, 100.0 * gflop / ours_med * 1e3 / peak, cores, 100.0 * gflop / ours_cpu * 1e3 / peak2.per_cpu,
              100.0 * gflop / t[2].median_ms * 1e3 / peak, 100.0 * gflop / t[1].median_ms * 1e3 / peak);
  print_layers(*unet_model, runs, peak, cores);
  unet_model.reset();

  const std::string conv_dir = write_conv();
  double conv_med = 0, conv_cpu = 0;
  {
    Model m(conv_dir, {1, kConvH, kConvW, kConvC}, conv_input());
    std::vector<Timing> ct;
    if (!m.error().empty() || !time_interleaved({&m}, runs, &ct)) {
      std::fprintf(stderr, "convolution model failed: %s\n", m.error().c_str());
      remove_dir(conv_dir);
      return 1;
    }
    conv_med = ct[0].median_ms;
    conv_cpu = ct[0].cpu_ms;
  }
  remove_dir(conv_dir);
  const double conv_gflops = conv_gflop() / conv_med * 1e3;
  const double conv_per_cpu = conv_gflop() / conv_cpu * 1e3;
  std::printf("3x3 Conv2D 1x%dx%dx%d -> %d (%.3f GFLOP): median %.2f ms, %.1f GFLOP/s = %.0f%% of the "
              "two-core peak; %.1f GFLOP per CPU-second = %.0f%% of the FMA loop's\n",
              kConvH, kConvW, kConvC, kConvC, conv_gflop(), conv_med, conv_gflops, 100.0 * conv_gflops / peak2.wall,
              conv_per_cpu, 100.0 * conv_per_cpu / peak2.per_cpu);
  std::printf("load average at end: %.2f\n", load_average());
  return max_diff <= 1e-3 * std::max(1.0, max_abs) ? 0 : 1;
}

// Google Benchmark cases (time per TF_SessionRun; GFLOP/s as a counter).
void run_model_benchmark(benchmark::State& state, const std::string& dir, const std::vector<int64_t>& dims,
                         const std::vector<float>& input, double gflop) {
  if (dir.empty()) {
    state.SkipWithError("model not written");
    return;
  }
  {
    Model m(dir, dims, input);
    if (!m.error().empty() || !m.run()) {
      state.SkipWithError(m.error().c_str());
    } else {
      for (auto _ : state) {
        if (!m.run()) {
          state.SkipWithError(m.error().c_str());
          break;
        }
      }
      state.counters["GFLOP/s"] = benchmark::Counter(gflop * 1e9, benchmark::Counter::kIsIterationInvariantRate);
    }
  }
  remove_dir(dir);
}

void BM_RuntimeUnet(benchmark::State& state) {
  run_model_benchmark(state, unet::write_savedmodel(), {1, unet::kHeight, unet::kWidth, unet::kInChannels}, unet::input_nhwc(),
                      unet::gflop());
}
BENCHMARK(BM_RuntimeUnet)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_RuntimeConv3x3(benchmark::State& state) {
  run_model_benchmark(state, write_conv(), {1, kConvH, kConvW, kConvC}, conv_input(), conv_gflop());
}
BENCHMARK(BM_RuntimeConv3x3)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

void BM_FmaPeak(benchmark::State& state) {
  const int64_t rounds = 1 << 20;
  float seed = 0.f;
  for (auto _ : state) {
    seed = unet::fma_rounds(rounds, seed * 1e-30f);
    benchmark::DoNotOptimize(seed);
  }
  // Every thread reports the same per-iteration work and the iteration count
  // is already the threads' total: average, or two threads count twice.
  state.counters["GFLOP/s"] = benchmark::Counter(
      unet::fma_flop(rounds),
      benchmark::Counter::Flags(benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kAvgThreads));
}
BENCHMARK(BM_FmaPeak)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Line-buffered even into a pipe, so the summary survives a later crash.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int runs = 10;
  bool with_summary = true;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--runs=", 7) == 0) {
      runs = std::max(1, std::atoi(argv[i] + 7));
    } else if (std::strcmp(argv[i], "--no_summary") == 0) {
      with_summary = false;
    } else {
      rest.push_back(argv[i]);
    }
  }
  const int rc = with_summary ? summary(runs) : 0;
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return rc;
}
