// Structural checks a TensorFlow 2 SavedModel satisfies, applied alike to the
// writer's output and to a model exported by TensorFlow itself. Each check
// reports through GoogleTest with `label` naming the model.
#pragma once

#include <string>

#include "saved_model.pb.h"

namespace qsm_test {

// saved_model.pb: one "serve" meta-graph, saver_def, signature placeholders,
// call op attrs, restore function shape, body references, stripped op list.
void check_saved_model_structure(const tensorflow::SavedModel& model, const std::string& label);

// variables.index + data: footer magic, header entry, block CRCs, one entry
// per restore key, tensor CRCs.
void check_checkpoint_structure(const tensorflow::SavedModel& model, const std::string& index,
                                const std::string& data, const std::string& label);

}  // namespace qsm_test
