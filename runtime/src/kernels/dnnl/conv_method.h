// How one forward convolution runs through oneDNN, chosen per shape. The
// candidates compute the same sums in different ways:
//   * direct on NHWC data (what the graph holds, no reorder);
//   * direct in the source/destination layout oneDNN prefers for the shape
//     (channel-blocked on AVX2), with reorders from and to NHWC;
//   * Winograd (3x3, stride 1, where oneDNN has it for the CPU), with the
//     same reorders. Its results differ from the direct sums by rounding
//     only (relative ~1e-6 on 3x3 layers).
// Which one wins depends on the instruction set oneDNN dispatches to and on
// the shape. A run's masks and depth files must not change with timings or
// the thread count (the same image gives the same bytes in a single run and
// in a sharded one), so by default the method follows from the shape alone:
// Winograd for wide 3x3 convolutions, where it is much faster on AVX-512
// (oneDNN has no Winograd for AVX2), in the one oneDNN implementation whose
// results do not depend on the thread count; direct NHWC for the rest.
// Measuring the candidates (each timed once, on the first input of its
// shape, the fastest kept) is a policy that benchmarks turn on.
#pragma once

#include <dnnl.hpp>

#include <optional>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

enum class ConvMethod { kDirectNhwc, kDirectPreferred, kWinograd };
const char* conv_method_name(ConvMethod method);

// Everything that defines one convolution apart from its data: oneDNN's
// logical dims (src/dst NCHW, weights OIHW or GOIHW) and window.
struct ConvGeometry {
  dnnl::memory::dims src, weights, dst;
  dnnl::memory::dims strides, dilations, pad_l, pad_r;
  bool bias = false;
  double flop() const;
};

// One candidate made ready to run: the primitive, its weights (filled by the
// caller from the user's filter) and the reorders around it.
struct ConvImpl {
  ConvMethod method = ConvMethod::kDirectNhwc;
  dnnl::convolution_forward::primitive_desc pd;
  dnnl::convolution_forward primitive;
  dnnl::memory weights;
  dnnl::memory::desc src_nhwc, dst_nhwc;
  bool reorder_src = false, reorder_dst = false;
  dnnl::reorder src_to_impl, impl_to_dst;
};

// Makes the candidate; false when oneDNN has no implementation of `method`
// for the geometry, or when kDirectPreferred would be the NHWC kernel again.
bool make_conv_impl(const ConvGeometry& g, const dnnl::primitive_attr& attr, ConvMethod method,
                    ConvImpl* out);

// Runs `impl` on NHWC `src` into NHWC `dst`; `bias` may be null when the
// geometry has none. Reorder buffers come from the tensor buffer cache.
void run_conv_impl(const ConvImpl& impl, void* src, void* dst, const float* bias, dnnl::stream& stream);

// The implementation to use for `g`: the override when one is set, else,
// unless the measuring policy is on and `g` is large enough to time,
// Winograd where winograd_by_shape(g) and oneDNN has it, direct NHWC
// otherwise; with the measuring policy, the fastest candidate timed on `src`
// (output written to `dst`; direct NHWC unless another is clearly faster).
// The chosen weights are filled from `user_weights`; the choice is recorded.
ConvImpl choose_conv_impl(const std::string& where, const ConvGeometry& g, const dnnl::primitive_attr& attr,
                          const dnnl::memory& user_weights, void* src, void* dst, const float* bias,
                          dnnl::stream& stream);

// Below this many FLOPs the direct NHWC kernel is used without timing:
// reorders cannot pay off and the first run stays cheap.
constexpr double kConvMethodTimingMinFlop = 2e7;

// Whether the default takes Winograd for `g`: a 3x3 window, stride 1, no
// dilation, both channel counts at least kWinogradMinChannels and their
// product at least kWinogradMinChannelProduct, and enough work to matter.
// From the per-layer timings of bench/unet_reference on AVX-512 (one and two
// threads): Winograd won from 32x64 channels up and lost at 32x32, 48->16
// and 16->16.
constexpr int64_t kWinogradMinChannels = 32;
constexpr int64_t kWinogradMinChannelProduct = 2048;
bool winograd_by_shape(const ConvGeometry& g);

// What a kernel chose for one shape, with each candidate's measured time.
struct ConvMethodChoice {
  std::string where;  // the node
  ConvGeometry geometry;
  ConvMethod method = ConvMethod::kDirectNhwc;
  std::vector<std::pair<ConvMethod, double>> candidate_ms;  // empty: not timed
};
// Records kept for benchmarks, in the order the choices were made (the
// latest few thousand).
std::vector<ConvMethodChoice> conv_method_choices();
void record_conv_method_choice(ConvMethodChoice choice);

// Forces every convolution made afterwards to one method (falling back to
// direct NHWC where oneDNN lacks it), for tests that compare the methods;
// nullopt restores measuring.
void set_conv_method_override(std::optional<ConvMethod> method);
std::optional<ConvMethod> conv_method_override();

// Whether convolutions made afterwards time their candidates (faster, but
// results then depend on the timings and the thread count) or follow the
// shape (the default: reproducible bit for bit).
enum class ConvMethodPolicy { kReproducible, kFastestMeasured };
void set_conv_method_policy(ConvMethodPolicy policy);
ConvMethodPolicy conv_method_policy();

}  // namespace qtf
