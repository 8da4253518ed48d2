// Axis permutation: a walk over the output in order with the input offset
// kept by an odometer; large outputs split their outer rows across threads.
#include "kernels/permute.h"

#include <algorithm>

#include "kernels/parallel.h"

namespace qtf {
namespace {

// Writes output rows [first, last) (a row is the innermost output axis);
// `src_step[d]` is the input stride of output axis d.
template <typename E>
void permute_rows(const E* x, E* y, const Shape& out_shape, const std::vector<int64_t>& src_step,
                  int64_t first, int64_t last) {
  const size_t rank = out_shape.size();
  const int64_t inner = out_shape[rank - 1];
  const int64_t inner_step = src_step[rank - 1];
  std::vector<int64_t> index(rank, 0);
  int64_t offset = 0;
  int64_t rest = first;
  for (size_t d = rank - 1; d-- > 0;) {
    index[d] = rest % out_shape[d];
    rest /= out_shape[d];
    offset += index[d] * src_step[d];
  }
  for (int64_t row = first; row < last; ++row) {
    E* dst = y + row * inner;
    for (int64_t i = 0; i < inner; ++i) dst[i] = x[offset + i * inner_step];
    for (size_t d = rank - 1; d-- > 0;) {
      offset += src_step[d];
      if (++index[d] < out_shape[d]) break;
      offset -= src_step[d] * out_shape[d];
      index[d] = 0;
    }
  }
}

template <typename E>
void permute(const E* x, E* y, const Shape& out_shape, const std::vector<int64_t>& src_step) {
  const int64_t total = num_elements(out_shape);
  const int64_t rows = total / out_shape.back();
  // Chunks of about kParallelMinElements elements; each restarts the odometer.
  const int64_t chunk_rows = std::max<int64_t>(1, kParallelMinElements / out_shape.back());
  const int64_t chunks = (rows + chunk_rows - 1) / chunk_rows;
  parallel_for(chunks, rows * out_shape.back(), [&](int64_t begin, int64_t end) {
    for (int64_t c = begin; c < end; ++c) {
      permute_rows(x, y, out_shape, src_step, c * chunk_rows, std::min(rows, (c + 1) * chunk_rows));
    }
  });
}

}  // namespace

Tensor permute_axes(const Tensor& x, const std::vector<int64_t>& perm) {
  const size_t rank = perm.size();
  bool identity = true;
  for (size_t d = 0; d < rank; ++d) identity = identity && perm[d] == static_cast<int64_t>(d);
  if (identity) return x;
  std::vector<int64_t> in_step(rank, 1);
  for (size_t d = rank - 1; d-- > 0;) in_step[d] = in_step[d + 1] * x.shape()[d + 1];
  Shape out_shape(rank);
  std::vector<int64_t> src_step(rank);
  for (size_t d = 0; d < rank; ++d) {
    out_shape[d] = x.shape()[static_cast<size_t>(perm[d])];
    src_step[d] = in_step[static_cast<size_t>(perm[d])];
  }
  Tensor y = Tensor::allocate(x.dtype(), out_shape);
  if (y.num_elements() == 0) return y;
  switch (dtype_size(x.dtype())) {
    case 1: permute(x.data<uint8_t>(), y.data<uint8_t>(), out_shape, src_step); break;
    case 2: permute(x.data<uint16_t>(), y.data<uint16_t>(), out_shape, src_step); break;
    case 4: permute(x.data<uint32_t>(), y.data<uint32_t>(), out_shape, src_step); break;
    case 8: permute(x.data<uint64_t>(), y.data<uint64_t>(), out_shape, src_step); break;
    default: {
      // Wider elements (complex) move as bytes.
      const int64_t es = static_cast<int64_t>(dtype_size(x.dtype()));
      Shape bytes_shape = out_shape;
      bytes_shape.push_back(es);
      std::vector<int64_t> bytes_step;
      for (int64_t s : src_step) bytes_step.push_back(s * es);
      bytes_step.push_back(1);
      permute(x.data<uint8_t>(), y.data<uint8_t>(), bytes_shape, bytes_step);
    }
  }
  return y;
}

}  // namespace qtf
