// LogicalAnd, LogicalOr (with broadcasting) and LogicalNot over bool tensors.
// One file because the three differ only in the operator.
#include "kernels/cwise_binary.h"
#include "kernels/cwise_unary.h"

namespace qtf {
namespace {

template <typename T>
struct LogicalAndOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kBoolOnly = true;
  static bool apply(T a, T b) { return a && b; }
};
template <typename T>
struct LogicalOrOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kBoolOnly = true;
  static bool apply(T a, T b) { return a || b; }
};
template <typename T>
struct LogicalNotOp {
  static constexpr bool kFloatOnly = false;
  static constexpr bool kBoolOnly = true;
  static bool apply(T a) { return !a; }
};

}  // namespace

using LogicalAndKernel = BinaryKernel<LogicalAndOp>;
using LogicalOrKernel = BinaryKernel<LogicalOrOp>;
using LogicalNotKernel = UnaryKernel<LogicalNotOp>;
QTF_REGISTER_KERNEL("LogicalAnd", LogicalAndKernel);
QTF_REGISTER_KERNEL("LogicalOr", LogicalOrKernel);
QTF_REGISTER_KERNEL("LogicalNot", LogicalNotKernel);
QTF_REGISTER_OP_DEF(R"pb(
  name: "LogicalAnd"
  input_arg { name: "x" type: DT_BOOL }
  input_arg { name: "y" type: DT_BOOL }
  output_arg { name: "z" type: DT_BOOL }
  is_commutative: true)pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "LogicalOr"
  input_arg { name: "x" type: DT_BOOL }
  input_arg { name: "y" type: DT_BOOL }
  output_arg { name: "z" type: DT_BOOL }
  is_commutative: true)pb");
QTF_REGISTER_OP_DEF(R"pb(
  name: "LogicalNot"
  input_arg { name: "x" type: DT_BOOL }
  output_arg { name: "y" type: DT_BOOL })pb");

}  // namespace qtf
