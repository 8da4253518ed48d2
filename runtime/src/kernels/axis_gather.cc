// Axis-map gather: an odometer over the outer axes, and the innermost axis
// cut into runs of consecutive sources (one memcpy each) or fill.
#include "kernels/axis_gather.h"

#include <cstring>
#include <string>

namespace qtf {
namespace {

struct Run {
  int64_t out_start, in_start, length;  // in_start -1: fill
};

std::vector<Run> inner_runs(const std::vector<int64_t>& map) {
  std::vector<Run> runs;
  for (int64_t i = 0; i < static_cast<int64_t>(map.size()); ++i) {
    const int64_t src = map[static_cast<size_t>(i)];
    if (!runs.empty()) {
      Run& last = runs.back();
      const bool extends = (src < 0 && last.in_start < 0) ||
                           (src >= 0 && last.in_start >= 0 && src == last.in_start + last.length);
      if (extends) {
        ++last.length;
        continue;
      }
    }
    runs.push_back({i, src, 1});
  }
  return runs;
}

}  // namespace

void gather_by_axis_maps(const Tensor& in, const std::vector<std::vector<int64_t>>& maps,
                         const void* fill, Tensor& out) {
  const int64_t total = out.num_elements();
  if (total == 0) return;
  const bool strings = in.dtype() == TF_STRING;
  const size_t es = strings ? 0 : dtype_size(in.dtype());
  const size_t rank = maps.size();

  auto copy = [&](int64_t dst, int64_t src, int64_t n) {
    if (strings) {
      for (int64_t i = 0; i < n; ++i) {
        out.mutable_string_values()[static_cast<size_t>(dst + i)] =
            in.string_values()[static_cast<size_t>(src + i)];
      }
    } else {
      std::memcpy(static_cast<char*>(out.raw()) + static_cast<size_t>(dst) * es,
                  static_cast<const char*>(in.raw()) + static_cast<size_t>(src) * es,
                  static_cast<size_t>(n) * es);
    }
  };
  auto put_fill = [&](int64_t dst, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
      if (strings) {
        out.mutable_string_values()[static_cast<size_t>(dst + i)] =
            *static_cast<const std::string*>(fill);
      } else {
        std::memcpy(static_cast<char*>(out.raw()) + static_cast<size_t>(dst + i) * es, fill, es);
      }
    }
  };

  if (rank == 0) {
    copy(0, 0, 1);
    return;
  }
  std::vector<int64_t> in_step(rank, 1);
  for (size_t d = rank - 1; d-- > 0;) in_step[d] = in_step[d + 1] * in.shape()[d + 1];
  const std::vector<Run> runs = inner_runs(maps[rank - 1]);
  const int64_t inner = static_cast<int64_t>(maps[rank - 1].size());
  std::vector<int64_t> index(rank, 0);
  for (int64_t done = 0; done < total; done += inner) {
    // Source of this row, or -1 when an outer axis lands in padding.
    int64_t row = 0;
    for (size_t d = 0; d + 1 < rank && row >= 0; ++d) {
      const int64_t src = maps[d][static_cast<size_t>(index[d])];
      row = src < 0 ? -1 : row + src * in_step[d];
    }
    if (row < 0) {
      put_fill(done, inner);
    } else {
      for (const Run& r : runs) {
        if (r.in_start < 0) put_fill(done + r.out_start, r.length);
        else copy(done + r.out_start, row + r.in_start, r.length);
      }
    }
    for (size_t d = rank - 1; d-- > 0;) {
      if (++index[d] < static_cast<int64_t>(maps[d].size())) break;
      index[d] = 0;
    }
  }
}

}  // namespace qtf
