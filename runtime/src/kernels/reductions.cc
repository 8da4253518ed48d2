// Sum, Mean, Max, Min, Prod, All and Any over axes. One file: they differ
// only in the reducer.
#include <cmath>
#include <limits>

#include "kernels/reduce_kernel.h"

namespace qtf {
namespace {

template <typename T>
struct SumReducer {
  using Acc = WideAcc<T>;
  static Acc init() { return Acc(0); }
  static Acc add(Acc a, T x) { return a + static_cast<Acc>(x); }
  static T finish(Acc a, int64_t) { return static_cast<T>(a); }
};

template <typename T>
struct MeanReducer {
  using Acc = WideAcc<T>;
  static Acc init() { return Acc(0); }
  static Acc add(Acc a, T x) { return a + static_cast<Acc>(x); }
  static T finish(Acc a, int64_t count) {
    if (count == 0) {
      // Mean of nothing: NaN for reals; integers have no NaN, so 0.
      return std::numeric_limits<T>::has_quiet_NaN ? std::numeric_limits<T>::quiet_NaN() : T(0);
    }
    return static_cast<T>(a / static_cast<Acc>(count));
  }
};

template <typename T>
struct ProdReducer {
  using Acc = WideAcc<T>;
  static Acc init() { return Acc(1); }
  static Acc add(Acc a, T x) { return a * static_cast<Acc>(x); }
  static T finish(Acc a, int64_t) { return static_cast<T>(a); }
};

// The identity of max/min: -inf/+inf for reals, the type's limits for integers.
template <typename T>
T lowest() {
  return std::numeric_limits<T>::has_infinity ? -std::numeric_limits<T>::infinity()
                                              : std::numeric_limits<T>::lowest();
}
template <typename T>
T highest() {
  return std::numeric_limits<T>::has_infinity ? std::numeric_limits<T>::infinity()
                                              : std::numeric_limits<T>::max();
}

template <typename T>
struct MaxReducer {
  using Acc = T;
  static Acc init() { return lowest<T>(); }
  static Acc add(Acc a, T x) { return x > a ? x : a; }
  static T finish(Acc a, int64_t) { return a; }
};

template <typename T>
struct MinReducer {
  using Acc = T;
  static Acc init() { return highest<T>(); }
  static Acc add(Acc a, T x) { return x < a ? x : a; }
  static T finish(Acc a, int64_t) { return a; }
};

// Logical reductions over bool input. Acc is a byte, not bool, because the
// kernel keeps accumulators in a std::vector.
template <typename T>
struct AllReducer {
  static constexpr bool kBoolOnly = true;
  using Acc = uint8_t;
  static Acc init() { return 1; }
  static Acc add(Acc a, T x) { return a && x ? 1 : 0; }
  static bool finish(Acc a, int64_t) { return a != 0; }
};

template <typename T>
struct AnyReducer {
  static constexpr bool kBoolOnly = true;
  using Acc = uint8_t;
  static Acc init() { return 0; }
  static Acc add(Acc a, T x) { return a || x ? 1 : 0; }
  static bool finish(Acc a, int64_t) { return a != 0; }
};

}  // namespace

using SumKernel = ReduceKernel<SumReducer>;
using MeanKernel = ReduceKernel<MeanReducer>;
using ProdKernel = ReduceKernel<ProdReducer>;
using MaxKernel = ReduceKernel<MaxReducer>;
using MinKernel = ReduceKernel<MinReducer>;
using AllKernel = ReduceKernel<AllReducer>;
using AnyKernel = ReduceKernel<AnyReducer>;
QTF_REGISTER_KERNEL("Sum", SumKernel);
QTF_REGISTER_KERNEL("Mean", MeanKernel);
QTF_REGISTER_KERNEL("Prod", ProdKernel);
QTF_REGISTER_KERNEL("Max", MaxKernel);
QTF_REGISTER_KERNEL("Min", MinKernel);
QTF_REGISTER_KERNEL("All", AllKernel);
QTF_REGISTER_KERNEL("Any", AnyKernel);
QTF_REGISTER_OP_DEF(QTF_REDUCTION_OP_DEF("Sum"));
QTF_REGISTER_OP_DEF(QTF_REDUCTION_OP_DEF("Mean"));
QTF_REGISTER_OP_DEF(QTF_REDUCTION_OP_DEF("Prod"));
QTF_REGISTER_OP_DEF(QTF_REDUCTION_OP_DEF("Max"));
QTF_REGISTER_OP_DEF(QTF_REDUCTION_OP_DEF("Min"));
QTF_REGISTER_OP_DEF(QTF_LOGICAL_REDUCTION_OP_DEF("All"));
QTF_REGISTER_OP_DEF(QTF_LOGICAL_REDUCTION_OP_DEF("Any"));

}  // namespace qtf
