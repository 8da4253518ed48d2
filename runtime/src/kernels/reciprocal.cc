// Reciprocal and its older name Inv: y = 1 / x. Real types only, as on
// TensorFlow's CPU (an integer 1 / 0 would trap).
#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

template <typename T>
struct ReciprocalOp {
  static constexpr bool kFloatOnly = true;
  static T apply(T x) { return T(1) / x; }
};

}  // namespace

using ReciprocalKernel = UnaryKernel<ReciprocalOp>;
QTF_REGISTER_KERNEL("Reciprocal", ReciprocalKernel);
QTF_REGISTER_KERNEL("Inv", ReciprocalKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Reciprocal"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Inv"));

}  // namespace qtf
