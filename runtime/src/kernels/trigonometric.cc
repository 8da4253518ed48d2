// Sin, Cos, Tan, their inverses and the hyperbolic functions (Tanh has its
// own file). One file because they differ only in the <cmath> function.
#include <cmath>

#include "kernels/cwise_unary.h"
#include "kernels/op_def_text.h"

namespace qtf {
namespace {

#define QTF_TRIG_OP(Name, fn)                          \
  template <typename T>                                \
  struct Name##Op {                                    \
    static constexpr bool kFloatOnly = true;           \
    static T apply(T x) { return std::fn(x); }         \
  };                                                   \
  using Name##Kernel = UnaryKernel<Name##Op>;

QTF_TRIG_OP(Sin, sin)
QTF_TRIG_OP(Cos, cos)
QTF_TRIG_OP(Tan, tan)
QTF_TRIG_OP(Asin, asin)
QTF_TRIG_OP(Acos, acos)
QTF_TRIG_OP(Atan, atan)
QTF_TRIG_OP(Sinh, sinh)
QTF_TRIG_OP(Cosh, cosh)
QTF_TRIG_OP(Asinh, asinh)
QTF_TRIG_OP(Acosh, acosh)
QTF_TRIG_OP(Atanh, atanh)
#undef QTF_TRIG_OP

}  // namespace

QTF_REGISTER_KERNEL("Sin", SinKernel);
QTF_REGISTER_KERNEL("Cos", CosKernel);
QTF_REGISTER_KERNEL("Tan", TanKernel);
QTF_REGISTER_KERNEL("Asin", AsinKernel);
QTF_REGISTER_KERNEL("Acos", AcosKernel);
QTF_REGISTER_KERNEL("Atan", AtanKernel);
QTF_REGISTER_KERNEL("Sinh", SinhKernel);
QTF_REGISTER_KERNEL("Cosh", CoshKernel);
QTF_REGISTER_KERNEL("Asinh", AsinhKernel);
QTF_REGISTER_KERNEL("Acosh", AcoshKernel);
QTF_REGISTER_KERNEL("Atanh", AtanhKernel);
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sin"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Cos"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Tan"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Asin"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Acos"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Atan"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Sinh"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Cosh"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Asinh"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Acosh"));
QTF_REGISTER_OP_DEF(QTF_UNARY_OP_DEF("Atanh"));

}  // namespace qtf
