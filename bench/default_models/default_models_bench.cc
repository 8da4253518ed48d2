// Time per run of each default network on one working-size image:
//   BM_DefaultModel/<folder>   TF_SessionRun on a [1,256,512,3] input of
//                              mid-grey with noise, the model loaded once.
// The folder is QUARROW_DEFAULT_MODELS, or the one given by the environment
// variable of the same name.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "../timed_session_runs.h"
#include "inference/network_contract.h"
#include "loaded_model.h"
#include "tensorflow/c/c_api.h"

namespace {

std::string models_folder() {
  const char* env = std::getenv("QUARROW_DEFAULT_MODELS");
  return env != nullptr && *env != '\0' ? env : QUARROW_DEFAULT_MODELS;
}

void BM_DefaultModel(benchmark::State& state, const char* folder, const char* input_op) {
  quarrow::LoadedModel m(models_folder() + "/" + folder);
  if (!m.loaded()) {
    state.SkipWithError(m.error().c_str());
    return;
  }
  const std::vector<int64_t> dims(quarrow::kNetworkInputShape.begin(), quarrow::kNetworkInputShape.end());
  std::vector<float> data(static_cast<size_t>(dims[1] * dims[2] * dims[3]));
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 0.5f);
  for (float& v : data) v = noise(rng);
  TF_Output in{TF_GraphOperationByName(m.graph(), input_op), 0};
  TF_Output out{TF_GraphOperationByName(m.graph(), quarrow::kOutputOperation), 0};
  if (in.oper == nullptr || out.oper == nullptr) {
    state.SkipWithError("the model lacks the contract's input or output operation");
    return;
  }
  bench::time_session_runs(state, m, in, out, [&] { return bench::borrowed_floats(data, dims); });
}

BENCHMARK_CAPTURE(BM_DefaultModel, sky_segm_model, quarrow::kSkyModelFolder, quarrow::kSegmentationInputOperation)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DefaultModel, ground_segm_model, quarrow::kGroundModelFolder,
                  quarrow::kSegmentationInputOperation)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DefaultModel, indoor_depth_model, quarrow::kIndoorDepthModelFolder,
                  quarrow::kDepthInputOperation)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DefaultModel, outdoor_depth_model, quarrow::kOutdoorDepthModelFolder,
                  quarrow::kDepthInputOperation)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
