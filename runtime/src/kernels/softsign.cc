// Softsign: activations = features / (1 + |features|).
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct SoftsignOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return x / (T(1) + std::fabs(x)); }
};

}  // namespace

using SoftsignKernel = UnaryKernel<SoftsignOp>;
QTF_REGISTER_KERNEL("Softsign", SoftsignKernel);
QTF_REGISTER_OP_DEF(QTF_ACTIVATION_OP_DEF("Softsign"));

}  // namespace qtf
