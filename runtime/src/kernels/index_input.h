// Reading int32/int64 index inputs (shapes, axes, begin/size vectors).
#pragma once

#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

// Reads a rank-0 or rank-1 int32/int64 tensor into `out`. Errors name the
// node (`where`) and the argument (`what`).
Status read_index_vector(const Tensor& t, const std::string& where, const char* what,
                         std::vector<int64_t>* out);

// Reads a single int32/int64 value (a scalar or a one-element vector).
Status read_index_scalar(const Tensor& t, const std::string& where, const char* what,
                         int64_t* out);

// Maps a possibly negative axis into [0, rank); fails outside [-rank, rank).
Status canonical_axis(int64_t axis, int rank, const std::string& where, int64_t* out);

// Reads an int32/int64 tensor of any rank (gather and scatter indices).
Status read_index_tensor(const Tensor& t, const std::string& where, const char* what,
                         std::vector<int64_t>* out);

}  // namespace qtf
