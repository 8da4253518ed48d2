// Strided window copy: an odometer over the outer dimensions and a contiguous
// (memcpy) or stepping inner loop.
#include "kernels/strided_copy.h"

#include <cstring>
#include <string>

namespace qtf {

bool is_movable_dtype(DataType t) { return t == TF_STRING || dtype_size(t) > 0; }

void copy_elements(const Tensor& src, int64_t src_offset, Tensor& dst, int64_t dst_offset,
                   int64_t n) {
  if (n <= 0) return;
  if (src.dtype() == TF_STRING) {
    const auto& sv = src.string_values();
    auto& dv = dst.mutable_string_values();
    for (int64_t i = 0; i < n; ++i) {
      dv[static_cast<size_t>(dst_offset + i)] = sv[static_cast<size_t>(src_offset + i)];
    }
    return;
  }
  const int64_t es = static_cast<int64_t>(dtype_size(src.dtype()));
  std::memcpy(static_cast<char*>(dst.raw()) + dst_offset * es,
              static_cast<const char*>(src.raw()) + src_offset * es, static_cast<size_t>(n * es));
}

void strided_copy(const Tensor& in, const std::vector<int64_t>& begin,
                  const std::vector<int64_t>& strides, const std::vector<int64_t>& sizes,
                  Tensor& out) {
  const int64_t total = num_elements(sizes);
  if (total == 0) return;
  const size_t rank = sizes.size();
  const bool strings = in.dtype() == TF_STRING;
  const size_t es = dtype_size(in.dtype());
  const char* src = static_cast<const char*>(in.raw());
  char* dst = static_cast<char*>(out.raw());

  if (rank == 0) {
    if (strings) out.mutable_string_values()[0] = in.string_values()[0];
    else std::memcpy(dst, src, es);
    return;
  }
  // Element strides of the input.
  std::vector<int64_t> in_step(rank, 1);
  for (size_t d = rank - 1; d-- > 0;) in_step[d] = in_step[d + 1] * in.shape()[d + 1];

  int64_t offset = 0;
  for (size_t d = 0; d < rank; ++d) offset += begin[d] * in_step[d];
  const int64_t inner = sizes[rank - 1];
  const int64_t inner_step = strides[rank - 1];
  std::vector<int64_t> index(rank, 0);
  for (int64_t done = 0; done < total; done += inner) {
    if (strings) {
      const auto& sv = in.string_values();
      auto& dv = out.mutable_string_values();
      for (int64_t i = 0; i < inner; ++i) {
        dv[static_cast<size_t>(done + i)] = sv[static_cast<size_t>(offset + i * inner_step)];
      }
    } else if (inner_step == 1) {
      std::memcpy(dst + done * static_cast<int64_t>(es), src + offset * static_cast<int64_t>(es),
                  static_cast<size_t>(inner) * es);
    } else {
      for (int64_t i = 0; i < inner; ++i) {
        std::memcpy(dst + (done + i) * static_cast<int64_t>(es),
                    src + (offset + i * inner_step) * static_cast<int64_t>(es), es);
      }
    }
    for (size_t d = rank - 1; d-- > 0;) {
      offset += strides[d] * in_step[d];
      if (++index[d] < sizes[d]) break;
      offset -= strides[d] * in_step[d] * sizes[d];
      index[d] = 0;
    }
  }
}

}  // namespace qtf
