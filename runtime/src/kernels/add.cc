// Add and AddV2: z = x + y with broadcasting.
#include "kernels/cwise_binary.h"

namespace qtf {
namespace {

template <typename T>
struct AddOp {
  static constexpr bool kFloatOnly = false;
  static T apply(T a, T b) { return static_cast<T>(a + b); }
};

}  // namespace

using AddKernel = BinaryKernel<AddOp>;
QTF_REGISTER_KERNEL("Add", AddKernel);
QTF_REGISTER_KERNEL("AddV2", AddKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "Add"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "y" type_attr: "T" }
  output_arg { name: "z" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "AddV2"
  input_arg { name: "x" type_attr: "T" }
  input_arg { name: "y" type_attr: "T" }
  output_arg { name: "z" type_attr: "T" }
  attr { name: "T" type: "type" }
  is_commutative: true
  is_aggregate: true)pb");

}  // namespace qtf
