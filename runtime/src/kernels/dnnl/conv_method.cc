#include "kernels/dnnl/conv_method.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using memory = dnnl::memory;
using tag = memory::format_tag;

// Another method must beat direct NHWC by this much: timings on a shared
// machine jitter, and the direct kernel needs no reorder buffers.
constexpr double kSwitchMargin = 0.97;
// Timed rounds, each running every candidate once, after one warm-up run
// each: the best of interleaved runs lets a burst of load elsewhere hit
// all candidates alike.
constexpr int kTimedRounds = 5;
// Choices kept for conv_method_choices(): a long batch over many image sizes
// must not grow the log without bound.
constexpr size_t kMaxLoggedChoices = 4096;

struct ChoiceLog {
  std::mutex mu;
  std::vector<ConvMethodChoice> choices;
};

ChoiceLog& choice_log() {
  static ChoiceLog* log = new ChoiceLog();  // never destroyed, like the buffer cache
  return *log;
}

// -1: no override, else a ConvMethod.
std::atomic<int>& override_value() {
  static std::atomic<int> v{-1};
  return v;
}

std::atomic<ConvMethodPolicy>& policy_value() {
  static std::atomic<ConvMethodPolicy> v{ConvMethodPolicy::kReproducible};
  return v;
}

// oneDNN's Winograd implementation whose sums are the same whatever the
// thread count (checked for 1-3 threads on the U-Net's shapes); its other
// one (2x3 tiles) is picked for some shapes only at some thread counts.
constexpr const char* kThreadIndependentWinograd = "jit_wino_4x3";

// Moves `pd` on to the thread-independent Winograd implementation; false
// when oneDNN has none for the shape.
bool settle_on_thread_independent_winograd(dnnl::convolution_forward::primitive_desc& pd) {
  while (std::strstr(pd.impl_info_str(), kThreadIndependentWinograd) == nullptr) {
    if (!pd.next_impl()) return false;
  }
  return true;
}

// Channels-last data of logical NCHW or NCDHW dims.
memory::desc nhwc(const memory::dims& dims) {
  return memory::desc(dims, memory::data_type::f32, dims.size() == 5 ? tag::ndhwc : tag::nhwc);
}

void fill_weights(ConvImpl& impl, const memory& user, dnnl::stream& stream) {
  impl.weights = memory(impl.pd.weights_desc(), dnnl_engine());
  dnnl::reorder(user, impl.weights).execute(stream, const_cast<memory&>(user), impl.weights);
  stream.wait();
  count_dnnl_primitive();
}

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

// One run's cost: the calling thread's CPU time. The calling thread takes
// its share of every parallel region, and unlike elapsed time its CPU time
// does not grow while other processes hold the cores.
double time_once(const ConvImpl& impl, void* src, void* dst, const float* bias, dnnl::stream& stream) {
  const double t0 = thread_cpu_ms();
  run_conv_impl(impl, src, dst, bias, stream);
  return thread_cpu_ms() - t0;
}

}  // namespace

const char* conv_method_name(ConvMethod method) {
  switch (method) {
    case ConvMethod::kDirectNhwc: return "direct NHWC";
    case ConvMethod::kDirectPreferred: return "direct blocked";
    case ConvMethod::kWinograd: return "Winograd";
  }
  return "?";
}

double ConvGeometry::flop() const {
  double per_output = 2.0;
  for (size_t i = 1; i < weights.size(); ++i) per_output *= static_cast<double>(weights[i]);
  // Grouped weights (G, O/G, I/G, window) have one axis more than the data:
  // each output sums over its group's I/G inputs only.
  if (weights.size() == src.size() + 1) per_output /= static_cast<double>(weights[1]);
  double outputs = 1;
  for (int64_t d : dst) outputs *= static_cast<double>(d);
  return per_output * outputs;
}

bool make_conv_impl(const ConvGeometry& g, const dnnl::primitive_attr& attr, ConvMethod method, ConvImpl* out) {
  const auto dt = memory::data_type::f32;
  const bool plain = method == ConvMethod::kDirectNhwc;
  const memory::desc src_md = plain ? nhwc(g.src) : memory::desc(g.src, dt, tag::any);
  const memory::desc dst_md = plain ? nhwc(g.dst) : memory::desc(g.dst, dt, tag::any);
  const memory::desc weights_md(g.weights, dt, tag::any);
  const auto alg = method == ConvMethod::kWinograd ? dnnl::algorithm::convolution_winograd
                                                   : dnnl::algorithm::convolution_direct;
  const auto kind = dnnl::prop_kind::forward_inference;
  ConvImpl impl;
  impl.method = method;
  try {
    const auto desc = g.bias ? dnnl::convolution_forward::desc(kind, alg, src_md, weights_md,
                                                               memory::desc({g.dst[1]}, dt, tag::x), dst_md,
                                                               g.strides, g.dilations, g.pad_l, g.pad_r)
                             : dnnl::convolution_forward::desc(kind, alg, src_md, weights_md, dst_md, g.strides,
                                                               g.dilations, g.pad_l, g.pad_r);
    impl.pd = dnnl::convolution_forward::primitive_desc(desc, attr, dnnl_engine());
    if (method == ConvMethod::kWinograd && !settle_on_thread_independent_winograd(impl.pd)) return false;
  } catch (const dnnl::error&) {
    // No implementation of this method for the shape; the direct NHWC one
    // is the fallback of every choice, so its failure is the kernel's.
    if (plain) throw;
    return false;
  }
  impl.src_nhwc = nhwc(g.src);
  impl.dst_nhwc = nhwc(g.dst);
  impl.reorder_src = impl.pd.src_desc() != impl.src_nhwc;
  impl.reorder_dst = impl.pd.dst_desc() != impl.dst_nhwc;
  if (method == ConvMethod::kDirectPreferred && !impl.reorder_src && !impl.reorder_dst) return false;
  impl.primitive = dnnl::convolution_forward(impl.pd);
  count_dnnl_primitive();
  const dnnl::engine& engine = dnnl_engine();
  if (impl.reorder_src) {
    impl.src_to_impl = dnnl::reorder(dnnl::reorder::primitive_desc(engine, impl.src_nhwc, engine, impl.pd.src_desc()));
  }
  if (impl.reorder_dst) {
    impl.impl_to_dst = dnnl::reorder(dnnl::reorder::primitive_desc(engine, impl.pd.dst_desc(), engine, impl.dst_nhwc));
  }
  *out = std::move(impl);
  return true;
}

void run_conv_impl(const ConvImpl& impl, void* src, void* dst, const float* bias, dnnl::stream& stream) {
  const dnnl::engine& engine = dnnl_engine();
  // Reorder buffers are tensors so that large ones are recycled between runs.
  const auto scratch = [](const memory::desc& md) {
    return Tensor::allocate(TF_UINT8, {static_cast<int64_t>(md.get_size())});
  };
  Tensor src_buffer, dst_buffer;
  memory user_src(impl.src_nhwc, engine, src), user_dst(impl.dst_nhwc, engine, dst);
  memory src_mem = user_src, dst_mem = user_dst;
  if (impl.reorder_src) {
    src_buffer = scratch(impl.pd.src_desc());
    src_mem = memory(impl.pd.src_desc(), engine, src_buffer.raw());
    impl.src_to_impl.execute(stream, user_src, src_mem);
  }
  if (impl.reorder_dst) {
    dst_buffer = scratch(impl.pd.dst_desc());
    dst_mem = memory(impl.pd.dst_desc(), engine, dst_buffer.raw());
  }
  std::unordered_map<int, memory> args{
      {DNNL_ARG_SRC, src_mem}, {DNNL_ARG_WEIGHTS, impl.weights}, {DNNL_ARG_DST, dst_mem}};
  if (bias != nullptr) {
    args.emplace(DNNL_ARG_BIAS, memory(impl.pd.bias_desc(), engine, const_cast<float*>(bias)));
  }
  impl.primitive.execute(stream, args);
  if (impl.reorder_dst) impl.impl_to_dst.execute(stream, dst_mem, user_dst);
  stream.wait();
}

bool winograd_by_shape(const ConvGeometry& g) {
  if (g.weights.size() != 4 || g.weights[2] != 3 || g.weights[3] != 3) return false;  // grouped or not 3x3
  for (int64_t s : g.strides) {
    if (s != 1) return false;
  }
  for (int64_t d : g.dilations) {
    if (d != 0) return false;  // oneDNN counts dilation from 0
  }
  const int64_t out_c = g.weights[0], in_c = g.weights[1];
  return in_c >= kWinogradMinChannels && out_c >= kWinogradMinChannels &&
         in_c * out_c >= kWinogradMinChannelProduct && g.flop() >= kConvMethodTimingMinFlop;
}

ConvImpl choose_conv_impl(const std::string& where, const ConvGeometry& g, const dnnl::primitive_attr& attr,
                          const memory& user_weights, void* src, void* dst, const float* bias,
                          dnnl::stream& stream) {
  ConvMethodChoice choice;
  choice.where = where;
  choice.geometry = g;
  ConvImpl best;
  const std::optional<ConvMethod> forced = conv_method_override();
  const bool measure = conv_method_policy() == ConvMethodPolicy::kFastestMeasured;
  if (forced.has_value() || !measure || g.flop() < kConvMethodTimingMinFlop) {
    const std::optional<ConvMethod> wanted =
        forced.has_value() ? forced : (winograd_by_shape(g) ? std::optional(ConvMethod::kWinograd) : std::nullopt);
    if (!wanted.has_value() || !make_conv_impl(g, attr, *wanted, &best)) {
      make_conv_impl(g, attr, ConvMethod::kDirectNhwc, &best);
    }
    fill_weights(best, user_weights, stream);
  } else {
    std::vector<ConvImpl> impls;
    for (ConvMethod m : {ConvMethod::kDirectNhwc, ConvMethod::kDirectPreferred, ConvMethod::kWinograd}) {
      ConvImpl impl;
      if (!make_conv_impl(g, attr, m, &impl)) continue;
      fill_weights(impl, user_weights, stream);
      run_conv_impl(impl, src, dst, bias, stream);  // warm-up: first touch of buffers and code
      impls.push_back(std::move(impl));
    }
    std::vector<double> ms(impls.size(), 1e300);
    for (int round = 0; round < kTimedRounds; ++round) {
      for (size_t i = 0; i < impls.size(); ++i) {
        ms[i] = std::min(ms[i], time_once(impls[i], src, dst, bias, stream));
      }
    }
    size_t best_index = 0;  // direct NHWC, always made first
    for (size_t i = 0; i < impls.size(); ++i) {
      choice.candidate_ms.emplace_back(impls[i].method, ms[i]);
      if (ms[i] < ms[best_index] * kSwitchMargin) best_index = i;
    }
    best = std::move(impls[best_index]);
  }
  choice.method = best.method;
  record_conv_method_choice(std::move(choice));
  return best;
}

std::vector<ConvMethodChoice> conv_method_choices() {
  ChoiceLog& log = choice_log();
  std::lock_guard<std::mutex> lock(log.mu);
  return log.choices;
}

void record_conv_method_choice(ConvMethodChoice choice) {
  ChoiceLog& log = choice_log();
  std::lock_guard<std::mutex> lock(log.mu);
  if (log.choices.size() >= kMaxLoggedChoices) log.choices.erase(log.choices.begin());
  log.choices.push_back(std::move(choice));
}

void set_conv_method_override(std::optional<ConvMethod> method) {
  override_value().store(method.has_value() ? static_cast<int>(*method) : -1);
}

std::optional<ConvMethod> conv_method_override() {
  const int v = override_value().load();
  if (v < 0) return std::nullopt;
  return static_cast<ConvMethod>(v);
}

void set_conv_method_policy(ConvMethodPolicy policy) { policy_value().store(policy); }

ConvMethodPolicy conv_method_policy() { return policy_value().load(); }

}  // namespace qtf
