// TF_SessionRun cost on models written by the project's SavedModel writer:
//   BM_AddChain/N      N chained AddV2 nodes on a one-element tensor: the
//                      executor's own cost per node (plan reuse, slot moves);
//   BM_ConvNet         a two-layer 3x3 conv net on a [1,256,512,3] input, the
//                      size quarrow feeds; kernel time dominates.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../timed_session_runs.h"
#include "../written_model.h"
#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"

namespace {

using Model = bench::WrittenModel;

// Feeds `input` with `dims` at "serving_default_<input>" and fetches
// StatefulPartitionedCall:0, once per iteration.
void run_loop(benchmark::State& state, Model& m, const char* input, std::vector<float>& data,
              const std::vector<int64_t>& dims) {
  if (m.session() == nullptr) {
    state.SkipWithError(TF_Message(m.status()));
    return;
  }
  TF_Output in{TF_GraphOperationByName(m.graph(), input), 0};
  TF_Output out{TF_GraphOperationByName(m.graph(), "StatefulPartitionedCall"), 0};
  bench::time_session_runs(state, m, in, out, [&] { return bench::borrowed_floats(data, dims); });
}

void BM_AddChain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  qsm::ModelBuilder b;
  qsm::Output x = b.input("x", TF_FLOAT, {1});
  qsm::Output one = b.constant(1.0f);
  for (int i = 0; i < n; ++i) x = b.op("AddV2", {x, one});
  b.output("y", x);
  const std::string dir = bench::temp_model_dir("chain" + std::to_string(n));
  if (!b.save(dir).is_ok()) {
    state.SkipWithError(b.status().message().c_str());
    return;
  }
  Model m(dir);
  std::vector<float> data{0.0f};
  run_loop(state, m, "serving_default_x", data, {1});
  state.counters["ns_per_node"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * n,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddChain)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_ConvNet(benchmark::State& state) {
  qsm::ModelBuilder b;
  qsm::Output x = b.input("input", TF_FLOAT, {1, 256, 512, 3});
  std::vector<float> w1(3 * 3 * 3 * 16, 0.05f), b1(16, 0.1f), w2(3 * 3 * 16 * 1, 0.02f);
  qsm::Output k1 = b.variable("conv1/kernel", {3, 3, 3, 16}, w1);
  qsm::Output c1 = b.variable("conv1/bias", {16}, b1);
  qsm::Output k2 = b.variable("conv2/kernel", {3, 3, 16, 1}, w2);
  const qsm::Attrs conv{{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}};
  qsm::Output y = b.op("Conv2D", {x, k1}, conv);
  y = b.op("BiasAdd", {y, c1});
  y = b.op("Relu", {y});
  y = b.op("Conv2D", {y, k2}, conv);
  y = b.op("Sigmoid", {y});
  b.output("output_0", y);
  const std::string dir = bench::temp_model_dir("convnet");
  if (!b.save(dir).is_ok()) {
    state.SkipWithError(b.status().message().c_str());
    return;
  }
  Model m(dir);
  std::vector<float> data(256 * 512 * 3, 0.5f);
  run_loop(state, m, "serving_default_input", data, {1, 256, 512, 3});
}
BENCHMARK(BM_ConvNet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
