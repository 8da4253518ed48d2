// Threshold for splitting memory-bound loops (element-wise ops, copies)
// across OpenMP threads, the same pool oneDNN runs on. Below it the cost of
// waking the threads exceeds the gain.
#pragma once

#include <cstdint>

namespace qtf {

constexpr int64_t kParallelMinElements = int64_t{1} << 16;

}  // namespace qtf
