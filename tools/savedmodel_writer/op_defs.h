// Op definitions as the writer sees them: the runtime's OpDefRegistry first,
// then a few definitions of its own for the ops the writer itself emits
// (variables, calls, checkpoint ops), so a model can be written even when the
// runtime has no kernel for, say, SaveV2. Also the arithmetic over output and
// input args that list-valued args (number_attr / type_list_attr) need.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/status.h"
#include "graph.pb.h"

namespace qsm {

using AttrMap = google::protobuf::Map<std::string, tensorflow::AttrValue>;

// nullptr when neither the registry nor the writer knows the op.
const tensorflow::OpDef* find_op_def(const std::string& op);

// `attrs` plus the definition's defaults for attrs it does not set.
AttrMap with_defaults(const tensorflow::OpDef& def, const AttrMap& attrs);

// Removes attrs equal to the definition's default (TensorFlow's
// strip_graph_default_valued_attrs). Underscore attrs are kept.
void strip_default_attrs(const tensorflow::OpDef& def, AttrMap* attrs);

// Number of tensors of `arg` under the (defaults-filled) attrs; -1 when the
// attr that decides it is missing.
int arg_length(const tensorflow::OpDef::ArgDef& arg, const AttrMap& attrs);

// Types of the tensors of `arg`; empty when an attr that decides them is missing.
std::vector<tensorflow::DataType> arg_types(const tensorflow::OpDef::ArgDef& arg,
                                            const AttrMap& attrs);

// Per flat output index: "<node>:<out_arg>:<i>" as function bodies reference
// outputs, together with each output's type.
qtf::Status output_refs(const std::string& node_name, const tensorflow::OpDef& def,
                        const AttrMap& attrs, std::vector<std::string>* refs,
                        std::vector<tensorflow::DataType>* types);

// True when two attr values are the same (compared by their serialized form).
bool same_attr(const tensorflow::AttrValue& a, const tensorflow::AttrValue& b);

}  // namespace qsm
