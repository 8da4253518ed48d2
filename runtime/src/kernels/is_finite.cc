// IsNan, IsInf and IsFinite: bool tests of real values.
#include <cmath>

#include "kernels/cwise_unary.h"

namespace qtf {
namespace {

template <typename T>
struct IsNanOp {
  static constexpr bool kFloatOnly = true;
  static bool apply(T x) { return std::isnan(x); }
};
template <typename T>
struct IsInfOp {
  static constexpr bool kFloatOnly = true;
  static bool apply(T x) { return std::isinf(x); }
};
template <typename T>
struct IsFiniteOp {
  static constexpr bool kFloatOnly = true;
  static bool apply(T x) { return std::isfinite(x); }
};

}  // namespace

using IsNanKernel = UnaryKernel<IsNanOp>;
using IsInfKernel = UnaryKernel<IsInfOp>;
using IsFiniteKernel = UnaryKernel<IsFiniteOp>;
QTF_REGISTER_KERNEL("IsNan", IsNanKernel);
QTF_REGISTER_KERNEL("IsInf", IsInfKernel);
QTF_REGISTER_KERNEL("IsFinite", IsFiniteKernel);

#define QTF_REAL_TEST_OP_DEF(name_text)           \
  "name: \"" name_text "\" "                     \
  "input_arg { name: \"x\" type_attr: \"T\" } "  \
  "output_arg { name: \"y\" type: DT_BOOL } "    \
  "attr { name: \"T\" type: \"type\" }"
QTF_REGISTER_OP_DEF(QTF_REAL_TEST_OP_DEF("IsNan"));
QTF_REGISTER_OP_DEF(QTF_REAL_TEST_OP_DEF("IsInf"));
QTF_REGISTER_OP_DEF(QTF_REAL_TEST_OP_DEF("IsFinite"));
#undef QTF_REAL_TEST_OP_DEF

}  // namespace qtf
