// Log: natural logarithm (-inf at 0, NaN below).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct LogOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return std::log(x); }
};

}  // namespace

using LogKernel = UnaryKernel<LogOp>;
QTF_REGISTER_KERNEL("Log", LogKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Log"));

}  // namespace qtf
