// Cost of one While iteration through TF_SessionRun, on models written by the
// project's SavedModel writer; the loop count is fed, so one model serves all
// sizes and the per-run cost of the session spreads over the iterations:
//   BM_CounterLoop/N   while i < n: i += 1, acc += 1 (a tiny body): the
//                      executor's own cost per iteration (cond + body calls);
//   BM_TensorListLoop/N  the same loop also writing acc into a TensorList
//                      element per iteration, then stacking it, as RNN layers
//                      do; a list copied per iteration would grow with N.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../timed_session_runs.h"
#include "../written_model.h"
#include "savedmodel_writer.h"
#include "tensorflow/c/c_api.h"

namespace {

using Model = bench::WrittenModel;

// serving_default_n (int32 scalar) -> StatefulPartitionedCall:0, a float
// tensor computed by a While loop of n iterations.
std::string write_loop(bool with_list, std::string* error) {
  qsm::ModelBuilder b;
  qsm::Output n = b.input("n", TF_INT32, {});
  qsm::Output zero = b.constant(qsm::TensorValue::int32s({}, {0}));
  qsm::Output acc = b.constant(0.0f);
  qsm::Output list = b.op("TensorListReserve", {b.constant_ints({}), n}, {{"element_dtype", qsm::type(TF_FLOAT)}});
  const std::vector<qsm::FunctionArg> args = {
      {"i", TF_INT32}, {"n", TF_INT32}, {"acc", TF_FLOAT}, {"list", TF_VARIANT}};
  std::vector<qsm::Output> a = b.begin_function("while_cond_1", args);
  tensorflow::AttrValue cond = b.end_function({{"while/Identity", b.op("Less", {a[0], a[1]})}});
  a = b.begin_function("while_body_2", args);
  qsm::Output next = b.op("AddV2", {a[0], b.constant(qsm::TensorValue::int32s({}, {1}))});
  qsm::Output sum = b.op("AddV2", {a[2], b.constant(1.0f)});
  qsm::Output written = with_list ? b.op("TensorListSetItem", {a[3], a[0], sum}) : a[3];
  tensorflow::AttrValue body = b.end_function(
      {{"while/Identity", next}, {"while_n", a[1]}, {"while/Identity_2", sum}, {"while/Identity_3", written}});
  qsm::Output loop = b.op("StatelessWhile", {zero, n, acc, list}, {{"cond", cond}, {"body", body}}, "while");
  if (with_list) {
    b.output("y", b.op("TensorListStack", {loop.at(3), b.constant_ints({})}, {{"element_dtype", qsm::type(TF_FLOAT)}}));
  } else {
    b.output("y", b.op("Identity", {loop.at(2)}));
  }
  const std::string dir = bench::temp_model_dir(with_list ? "loop_list" : "loop_counter");
  *error = b.save(dir).message();
  return error->empty() ? dir : std::string();
}

void run_loop(benchmark::State& state, bool with_list) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  std::string error;
  const std::string dir = write_loop(with_list, &error);
  if (dir.empty()) {
    state.SkipWithError(error.c_str());
    return;
  }
  Model m(dir);
  if (m.session() == nullptr) {
    state.SkipWithError(TF_Message(m.status()));
    return;
  }
  TF_Output in{TF_GraphOperationByName(m.graph(), "serving_default_n"), 0};
  TF_Output out{TF_GraphOperationByName(m.graph(), "StatefulPartitionedCall"), 0};
  bench::time_session_runs(state, m, in, out, [n] {
    TF_Tensor* t = TF_AllocateTensor(TF_INT32, nullptr, 0, sizeof(int32_t));
    std::memcpy(TF_TensorData(t), &n, sizeof(n));
    return t;
  });
  state.counters["ns_per_iteration"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CounterLoop(benchmark::State& state) { run_loop(state, false); }
void BM_TensorListLoop(benchmark::State& state) { run_loop(state, true); }

BENCHMARK(BM_CounterLoop)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TensorListLoop)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
