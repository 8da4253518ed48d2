// Floor: largest integer not above x.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct FloorOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::floor(x); }
};

}  // namespace

using FloorKernel = UnaryKernel<FloorOp>;
QTF_REGISTER_KERNEL("Floor", FloorKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Floor"));

}  // namespace qtf
