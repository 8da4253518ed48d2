// Random fills.
#include "kernels/random_fill.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "kernels/parallel.h"

namespace qtf {
namespace {

constexpr uint64_t kTruncatedDrawsPerGroup = 128;

// One word at a time from a generator.
class WordStream {
 public:
  explicit WordStream(Philox gen) : gen_(gen) {}
  uint32_t next() {
    if (used_ == 4) {
      block_ = gen_.next();
      used_ = 0;
    }
    return block_[used_++];
  }

 private:
  Philox gen_;
  Philox::Block block_{};
  int used_ = 4;
};

template <typename T>
void uniform_group(const Philox::Block& w, T* out);
template <>
void uniform_group<float>(const Philox::Block& w, float* out) {
  for (int i = 0; i < 4; ++i) out[i] = uint32_to_float(w[static_cast<size_t>(i)]);
}
template <>
void uniform_group<double>(const Philox::Block& w, double* out) {
  out[0] = uint64_to_double(w[0], w[1]);
  out[1] = uint64_to_double(w[2], w[3]);
}

template <typename T>
void normal_group(const Philox::Block& w, T* out);
template <>
void normal_group<float>(const Philox::Block& w, float* out) {
  box_muller(w[0], w[1], &out[0], &out[1]);
  box_muller(w[2], w[3], &out[2], &out[3]);
}
template <>
void normal_group<double>(const Philox::Block& w, double* out) {
  box_muller(w[0], w[1], w[2], w[3], &out[0], &out[1]);
}

template <typename T>
void truncated_group(WordStream& words, T* out) {
  const T kLimit = 2;
  int filled = 0;
  while (true) {
    T v[2];
    if constexpr (sizeof(T) == 4) {
      const uint32_t x0 = words.next(), x1 = words.next();
      box_muller(x0, x1, &v[0], &v[1]);
    } else {
      const uint32_t x0 = words.next(), x1 = words.next(), x2 = words.next(), x3 = words.next();
      box_muller(x0, x1, x2, x3, &v[0], &v[1]);
    }
    for (T x : v) {
      if (std::abs(x) < kLimit) {
        out[filled++] = x;
        if (filled == 2) return;
      }
    }
  }
}

template <typename T>
void int_group(const Philox::Block& w, uint64_t range, int64_t lo, T* out) {
  if constexpr (sizeof(T) == 4) {
    for (int i = 0; i < 4; ++i) {
      out[i] = static_cast<T>(lo + static_cast<int64_t>(w[static_cast<size_t>(i)] % range));
    }
  } else {
    for (int i = 0; i < 2; ++i) {
      const uint64_t bits = w[2 * static_cast<size_t>(i)] |
                            (uint64_t{w[2 * static_cast<size_t>(i) + 1]} << 32);
      out[i] = static_cast<T>(static_cast<uint64_t>(lo) + bits % range);
    }
  }
}

// Runs make(g, values) for every group and copies the values in, the last
// group possibly in part.
template <typename T, typename Make>
void fill_groups(T* data, int64_t n, int group, Make make) {
  const int64_t groups = (n + group - 1) / group;
  parallel_for(groups, n, [&](int64_t begin, int64_t end) {
    for (int64_t g = begin; g < end; ++g) {
      T values[4];
      make(g, values);
      const int64_t first = g * group;
      std::copy(values, values + std::min<int64_t>(group, n - first), data + first);
    }
  });
}

template <typename T>
void fill_typed(RandomDistribution dist, const Philox& base, int64_t lo, int64_t hi, T* data,
                int64_t n) {
  const auto at = [&](int64_t g, uint64_t stride) {
    Philox gen = base;
    gen.skip(static_cast<uint64_t>(g) * stride);
    return gen;
  };
  switch (dist) {
    case RandomDistribution::kUniform:
      if constexpr (std::is_floating_point<T>::value) {
        fill_groups(data, n, 16 / sizeof(T),
                    [&](int64_t g, T* v) { uniform_group<T>(at(g, 1).next(), v); });
      }
      break;
    case RandomDistribution::kNormal:
      if constexpr (std::is_floating_point<T>::value) {
        fill_groups(data, n, 16 / sizeof(T),
                    [&](int64_t g, T* v) { normal_group<T>(at(g, 1).next(), v); });
      }
      break;
    case RandomDistribution::kTruncatedNormal:
      if constexpr (std::is_floating_point<T>::value) {
        fill_groups(data, n, 2, [&](int64_t g, T* v) {
          WordStream words(at(g, kTruncatedDrawsPerGroup));
          truncated_group<T>(words, v);
        });
      }
      break;
    case RandomDistribution::kUniformInt:
      if constexpr (std::is_integral<T>::value) {
        const uint64_t range = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
        fill_groups(data, n, 16 / sizeof(T),
                    [&](int64_t g, T* v) { int_group<T>(at(g, 1).next(), range, lo, v); });
      }
      break;
  }
}

}  // namespace

bool random_dtype_supported(RandomDistribution dist, DataType dtype) {
  if (dist == RandomDistribution::kUniformInt) return dtype == TF_INT32 || dtype == TF_INT64;
  return dtype == TF_FLOAT || dtype == TF_DOUBLE;
}

Status fill_random(const std::string& where, RandomDistribution dist, const Philox& base,
                   int64_t lo, int64_t hi, Tensor& out) {
  if (!random_dtype_supported(dist, out.dtype())) {
    return unimplemented(where + "type " + dtype_name(out.dtype()) + " is not supported");
  }
  if (dist == RandomDistribution::kUniformInt && lo >= hi) {
    return invalid_argument(where + "need minval < maxval, got " + std::to_string(lo) + " >= " +
                            std::to_string(hi));
  }
  const int64_t n = out.num_elements();
  switch (out.dtype()) {
    case TF_FLOAT: fill_typed(dist, base, lo, hi, out.data<float>(), n); break;
    case TF_DOUBLE: fill_typed(dist, base, lo, hi, out.data<double>(), n); break;
    case TF_INT32: fill_typed(dist, base, lo, hi, out.data<int32_t>(), n); break;
    default: fill_typed(dist, base, lo, hi, out.data<int64_t>(), n); break;
  }
  return Status::ok();
}

}  // namespace qtf
