// Atan2: z = atan(y / x) in the quadrant of (x, y), with broadcasting. The
// first input is y.
#include <cmath>

#include "kernels/cwise_binary.h"

namespace qtf {
namespace {

template <typename T>
struct Atan2Op {
  static constexpr bool kFloatOnly = true;
  static T apply(T y, T x) { return std::atan2(y, x); }
};

}  // namespace

using Atan2Kernel = BinaryKernel<Atan2Op>;
QTF_REGISTER_KERNEL("Atan2", Atan2Kernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "Atan2"
  input_arg { name: "y" type_attr: "T" }
  input_arg { name: "x" type_attr: "T" }
  output_arg { name: "z" type_attr: "T" }
  attr { name: "T" type: "type" })pb");

}  // namespace qtf
