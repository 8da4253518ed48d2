// Builds the serving graph of one default network from its exported weights:
// the shared U-Net body (conv + ReLU, 2 x 2 max pooling, nearest upsampling to
// the skip tensor's size, concatenation, a 1 x 1 head resized bilinearly to
// the input's size) and the head of its kind:
//   sky     sigmoid((z + mirror(z of the mirror image)) / 2); any input height
//           and width, no size-bound constants;
//   ground  sigmoid(z + prior_logit[row]); input [1, 256, 512, 3];
//   depth   prior[row] * (1 + k tanh z) / (1 - k tanh z), reshaped to
//           [1, 1, 256, 512]; input [1, 256, 512, 3].
// The graph mirrors models/training/networks.py op for op.
#pragma once

#include "core/status.h"
#include "savedmodel_writer.h"
#include "weights_file.h"

namespace quarrow::default_models {

// Adds the network's input, variables, ops and output "output_0" to `builder`.
qtf::Status build_network(const NetworkWeights& weights, qsm::ModelBuilder* builder);

}  // namespace quarrow::default_models
