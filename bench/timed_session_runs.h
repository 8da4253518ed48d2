// The timed loop of the session benchmarks: per iteration one input tensor
// from `make_input`, one TF_SessionRun fetching `out`, the result kept from
// the optimiser and released. A failed run ends the benchmark with the
// session's message.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "loaded_model.h"
#include "tensorflow/c/c_api.h"

namespace bench {

template <typename MakeInput>
void time_session_runs(benchmark::State& state, const quarrow::LoadedModel& m, TF_Output in,
                       TF_Output out, MakeInput make_input) {
  for (auto _ : state) {
    TF_Tensor* t = make_input();
    TF_Tensor* result = nullptr;
    TF_SessionRun(m.session(), nullptr, &in, &t, 1, &out, &result, 1, nullptr, 0, nullptr,
                  m.status());
    TF_DeleteTensor(t);
    if (result == nullptr) {
      state.SkipWithError(TF_Message(m.status()));
      break;
    }
    benchmark::DoNotOptimize(TF_TensorData(result));
    TF_DeleteTensor(result);
  }
}

// A float tensor over `data` with `dims`, borrowing the buffer (never freed by
// the tensor): the input costs no copy inside the timed loop.
inline TF_Tensor* borrowed_floats(std::vector<float>& data, const std::vector<int64_t>& dims) {
  return TF_NewTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), data.data(),
                      data.size() * sizeof(float), [](void*, size_t, void*) {}, nullptr);
}

}  // namespace bench
