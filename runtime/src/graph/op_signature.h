// Op definitions seen by one loaded graph, and what they say about a node: the
// stripped op list stored in the SavedModel comes first, the runtime's own
// registry second. Also the layout of a node's outputs as (possibly list-valued)
// output args, which function bodies use to name values ("node:out_arg:i").
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "graph.pb.h"

namespace qtf {

using AttrMap = google::protobuf::Map<std::string, tensorflow::AttrValue>;

class OpDefLookup {
 public:
  OpDefLookup() = default;
  explicit OpDefLookup(const tensorflow::OpList& stripped);
  // nullptr when neither the stripped list nor the registry knows `op`.
  const tensorflow::OpDef* find(const std::string& op) const;

 private:
  std::map<std::string, const tensorflow::OpDef*> stripped_;
};

// Adds every attr of `def` that has a default and is missing from `attrs`.
void fill_default_attrs(const tensorflow::OpDef& def, AttrMap* attrs);

// One output arg of a node: its flat outputs are [first, first + count).
struct OutputArg {
  std::string name;
  int first = 0;
  int count = 0;
};

struct OutputLayout {
  std::vector<OutputArg> args;
  std::vector<DataType> types;  // one per flat output

  // Flat index of element `index` of output arg `arg`, or -1.
  int flat_index(const std::string& arg, int index) const;
};

// Expands `args` (input or output args of `def`) against the node's attrs.
// `where` prefixes error messages.
Status arg_layout(const google::protobuf::RepeatedPtrField<tensorflow::OpDef::ArgDef>& args,
                  const AttrMap& attrs, const std::string& where, OutputLayout* out);

}  // namespace qtf
