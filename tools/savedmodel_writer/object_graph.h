// Builds the serialized TrackableObjectGraph stored under
// `_CHECKPOINTABLE_OBJECT_GRAPH` in a checkpoint: the root object, one child
// object per '/'-separated path component, and the VARIABLE_VALUE attribute of
// each variable with its checkpoint key. TensorFlow's object-based restore
// (tf.train.Checkpoint) reads it; graph-mode serving does not need it.
#pragma once

#include <string>
#include <vector>

namespace qsm {

// The checkpoint key of a variable named "conv1/kernel": each path component
// escaped ('.' becomes "..", as TensorFlow escapes names), joined by '/',
// followed by "/.ATTRIBUTES/VARIABLE_VALUE".
std::string variable_checkpoint_key(const std::string& variable_name);

// Wire-format TrackableObjectGraph for the given variable names.
std::string object_graph_bytes(const std::vector<std::string>& variable_names);

}  // namespace qsm
