// Splitting memory-bound loops (element-wise ops, copies) across the
// runtime's ThreadPool, the threads oneDNN runs on too. Below
// kParallelMinElements the cost of waking the threads exceeds the gain.
//
//   parallel_for(n, n, [&](int64_t begin, int64_t end) {
//     for (int64_t i = begin; i < end; ++i) y[i] = f(x[i]);
//   });
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "threading/thread_pool.h"

namespace qtf {

constexpr int64_t kParallelMinElements = int64_t{1} << 16;

namespace parallel_detail {

template <typename Body>
struct Loop {
  int64_t count;
  const Body* body;
};

// Thread `index` of `threads` takes one contiguous range, the first
// count % threads ranges one item longer (OpenMP's static schedule).
template <typename Body>
void run_range(void* arg, int index, int threads) {
  const Loop<Body>& loop = *static_cast<const Loop<Body>*>(arg);
  const int64_t share = loop.count / threads, extra = loop.count % threads;
  const int64_t begin = index * share + std::min<int64_t>(index, extra);
  const int64_t end = begin + share + (index < extra ? 1 : 0);
  if (begin < end) (*loop.body)(begin, end);
}

}  // namespace parallel_detail

// Calls body(begin, end) on contiguous ranges that cover [0, count) once:
// one range per pool thread when `work` (the elements the loop touches)
// reaches kParallelMinElements, else all of it on the calling thread.
// `body` must not throw.
template <typename Body>
void parallel_for(int64_t count, int64_t work, const Body& body) {
  if (count <= 0) return;
  if (work < kParallelMinElements || count == 1) {
    body(int64_t{0}, count);
    return;
  }
  parallel_detail::Loop<Body> loop{count, &body};
  ThreadPool::global().run(static_cast<int>(std::min<int64_t>(count, INT_MAX)),
                           &parallel_detail::run_range<Body>, &loop);
}

}  // namespace qtf
