// Gathering slices by index, shared by GatherV2, Gather, ResourceGather and
// GatherNd. Every index is checked before anything is copied: one outside
// its axis fails with INVALID_ARGUMENT naming it, never reading outside the
// params buffer.
#pragma once

#include <string>

#include "core/status.h"
#include "core/tensor.h"

namespace qtf {

// out = params gathered along `axis` (already in [0, rank)) with the first
// `batch_dims` (already >= 0) dimensions of params and indices matched:
// shape params[:axis] + indices[batch_dims:] + params[axis + 1:].
Status gather_along_axis(const Tensor& params, const Tensor& indices, int64_t axis,
                         int64_t batch_dims, const std::string& where, Tensor* out);

// "[3,0]": coordinates of element `flat` of a tensor of `shape`, for messages.
std::string index_string(const Shape& shape, int64_t flat);

}  // namespace qtf
