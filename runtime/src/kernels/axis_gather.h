// Builds a tensor whose every axis is a lookup into the matching input axis:
// out[i0, ..., ik] = in[maps[0][i0], ..., maps[k][ik]], or the fill value
// where an entry is -1. Tile, Pad and MirrorPad are this with different maps.
#pragma once

#include <vector>

#include "core/tensor.h"

namespace qtf {

// `out` must already have shape [maps[0].size(), ...] and in's dtype.
// `fill` points at one element of that dtype (a std::string for strings);
// it may be null when no map holds -1.
void gather_by_axis_maps(const Tensor& in, const std::vector<std::vector<int64_t>>& maps,
                         const void* fill, Tensor& out);

}  // namespace qtf
