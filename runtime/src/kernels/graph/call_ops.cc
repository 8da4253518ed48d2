// Op definitions of the function-call ops. The executor runs these calls
// itself (it instantiates the callee's body), so they have no kernel.
#include "core/kernel.h"

namespace qtf {

QTF_REGISTER_OP_DEF(R"pb(
  name: "PartitionedCall"
  input_arg { name: "args" type_list_attr: "Tin" }
  output_arg { name: "output" type_list_attr: "Tout" }
  attr { name: "Tin" type: "list(type)" has_minimum: true }
  attr { name: "Tout" type: "list(type)" has_minimum: true }
  attr { name: "f" type: "func" }
  attr { name: "config" type: "string" default_value { s: "" } }
  attr { name: "config_proto" type: "string" default_value { s: "" } }
  attr { name: "executor_type" type: "string" default_value { s: "" } })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "StatefulPartitionedCall"
  input_arg { name: "args" type_list_attr: "Tin" }
  output_arg { name: "output" type_list_attr: "Tout" }
  attr { name: "Tin" type: "list(type)" has_minimum: true }
  attr { name: "Tout" type: "list(type)" has_minimum: true }
  attr { name: "f" type: "func" }
  attr { name: "config" type: "string" default_value { s: "" } }
  attr { name: "config_proto" type: "string" default_value { s: "" } }
  attr { name: "executor_type" type: "string" default_value { s: "" } }
  is_stateful: true)pb");

}  // namespace qtf
