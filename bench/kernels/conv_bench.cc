// 3x3 convolution throughput of the Conv2D kernel in GFLOP/s, and a check
// that runs after the first create no oneDNN primitive.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstdio>
#include <memory>

#include "core/kernel.h"
#include "kernels/dnnl/dnnl_context.h"

namespace {

using qtf::Tensor;

Tensor random_tensor(qtf::Shape shape) {
  Tensor t = Tensor::allocate(TF_FLOAT, shape);
  for (int64_t i = 0; i < t.num_elements(); ++i) {
    t.data<float>()[i] = static_cast<float>(std::rand() % 2001 - 1000) / 1000.f;
  }
  return t;
}

// args: height, width, in channels, out channels, stride
void BM_Conv2D3x3(benchmark::State& state) {
  const int64_t h = state.range(0), w = state.range(1), cin = state.range(2),
                cout = state.range(3), stride = state.range(4);
  google::protobuf::Map<std::string, tensorflow::AttrValue> attrs;
  attrs["T"].set_type(tensorflow::DT_FLOAT);
  attrs["padding"].set_s("SAME");
  for (int64_t s : {int64_t{1}, stride, stride, int64_t{1}}) attrs["strides"].mutable_list()->add_i(s);
  attrs["data_format"].set_s("NHWC");
  for (int i = 0; i < 4; ++i) attrs["dilations"].mutable_list()->add_i(1);
  qtf::NodeAttrs node("bench/conv", "Conv2D", attrs);
  std::unique_ptr<qtf::OpKernel> kernel;
  qtf::Status s = qtf::KernelRegistry::global().find("Conv2D")(node, &kernel);
  if (!s.is_ok()) {
    state.SkipWithError(s.message().c_str());
    return;
  }
  std::vector<Tensor> inputs = {random_tensor({1, h, w, cin}), random_tensor({3, 3, cin, cout})};
  std::vector<Tensor> outputs(1);
  qtf::OpKernelContext ctx(inputs, &outputs);
  s = kernel->compute(ctx);  // first run builds the primitive and reorders weights
  const int64_t created = qtf::dnnl_primitives_created();
  for (auto _ : state) {
    s = kernel->compute(ctx);
    if (!s.is_ok()) state.SkipWithError(s.message().c_str());
    benchmark::DoNotOptimize(outputs[0].raw());
  }
  if (qtf::dnnl_primitives_created() != created) {
    state.SkipWithError("later runs created oneDNN primitives");
  }
  const double oh = static_cast<double>((h + stride - 1) / stride);
  const double ow = static_cast<double>((w + stride - 1) / stride);
  const double flops = 2.0 * oh * ow * static_cast<double>(cout) * 9.0 * static_cast<double>(cin);
  state.counters["GFLOP/s"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["new_primitives"] = static_cast<double>(qtf::dnnl_primitives_created() - created);
}

BENCHMARK(BM_Conv2D3x3)
    ->Args({128, 256, 32, 32, 1})
    ->Args({256, 512, 16, 16, 1})
    ->Args({64, 128, 64, 64, 1})
    ->Args({256, 512, 3, 32, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
