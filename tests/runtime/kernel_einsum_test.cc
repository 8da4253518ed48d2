// Einsum: the equations attention and EinsumDense layers export, checked
// against numpy.einsum references (data/kernels/make_references_einsum.py)
// and hand-worked cases; refusals at prepare name the equation.
#include <gtest/gtest.h>

#include "kernel_reference.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

QTF_REFERENCE_SUITE(EinsumReferenceTest, MatchesNumpy, "cases_einsum.txt", 2e-5f);

Node einsum(const char* equation, int n = 2) {
  Node node("Einsum");
  node.attr("equation", equation).attr("N", n).attr("T", TF_FLOAT);
  return node;
}

TEST(EinsumTest, HandWorked) {
  Tensor a = make<float>({2, 3}, {1, 2, 3, 4, 5, 6});
  Tensor b = make<float>({3, 2}, {7, 8, 9, 10, 11, 12});
  Node mm = einsum("ij,jk->ik");
  EXPECT_EQ(values<float>(mm.run1({a, b})), (std::vector<float>{58, 64, 139, 154}));
  // Same product with the output transposed.
  Node mt = einsum("ij,jk->ki");
  EXPECT_EQ(values<float>(mt.run1({a, b})), (std::vector<float>{58, 139, 64, 154}));
  // Row sums, and the full sum with spaces in the equation.
  Node rows = einsum("ij->i", 1);
  EXPECT_EQ(values<float>(rows.run1({a})), (std::vector<float>{6, 15}));
  Node all = einsum(" ij -> ", 1);
  Tensor s = all.run1({a});
  EXPECT_EQ(s.shape(), Shape{});
  EXPECT_EQ(values<float>(s), (std::vector<float>{21}));
  // A label only in the first operand and not in the output is summed first.
  Node summed = einsum("ij,j->j");
  EXPECT_EQ(values<float>(summed.run1({a, make<float>({3}, {1, 10, 100})})),
            (std::vector<float>{5, 70, 900}));
}

TEST(EinsumTest, SecondRunCreatesNoPrimitive) {
  Node node = einsum("bhqd,bhkd->bhqk");
  Tensor q = make<float>({1, 2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
  Tensor k = make<float>({1, 2, 2, 2}, {1, 0, 0, 1, 2, 0, 0, 2});
  Tensor first = node.run1({q, k});
  EXPECT_EQ(values<float>(first), (std::vector<float>{1, 2, 3, 4, 10, 12, 14, 16}));
  const int64_t created = dnnl_primitives_created();
  node.run1({q, k});
  EXPECT_EQ(dnnl_primitives_created(), created);
}

TEST(EinsumTest, UnsupportedEquationsAreRefusedAtPrepareNamingThem) {
  struct Case { const char* equation; int n; TF_Code code; };
  const Case cases[] = {
      {"ii->i", 1, TF_UNIMPLEMENTED},            // diagonal
      {"bii,bij->bj", 2, TF_UNIMPLEMENTED},      // diagonal in one operand
      {"ij,jk,kl->il", 3, TF_UNIMPLEMENTED},     // three operands
      {"ij,jk->iz", 2, TF_INVALID_ARGUMENT},     // output label in no operand
      {"ij,jk->ii", 2, TF_INVALID_ARGUMENT},     // repeated output label
      {"ij,j1->i", 2, TF_INVALID_ARGUMENT},      // not a letter
      {"i..j,jk->ik", 2, TF_INVALID_ARGUMENT},   // broken ellipsis
      {"ij->i", 2, TF_INVALID_ARGUMENT},         // operand count differs from N
      {"ij,jk->...ik", 2, TF_INVALID_ARGUMENT},  // output ellipsis without operand one
  };
  for (const Case& c : cases) {
    Node node = einsum(c.equation, c.n);
    Status s = node.prepare();
    EXPECT_EQ(s.code(), c.code) << c.equation;
    EXPECT_NE(s.message().find(c.equation), std::string::npos) << s.message();
  }
  Node ints("Einsum");
  ints.attr("equation", "ij,jk->ik").attr("N", 2).attr("T", TF_INT32);
  EXPECT_EQ(ints.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(EinsumTest, MismatchedOperandsAreInvalidArgument) {
  Node node = einsum("ij,jk->ik");
  Tensor a = make<float>({2, 3}, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(testing::run_error(node, {a, make<float>({2, 2}, {1, 2, 3, 4})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(node, {a, make<float>({3}, {1, 2, 3})}).code(),
            TF_INVALID_ARGUMENT);
  Node batch = einsum("bij,bjk->bik");
  EXPECT_EQ(testing::run_error(batch, {make<float>({2, 1, 1}, {1, 2}),
                                       make<float>({3, 1, 1}, {1, 2, 3})})
                .code(),
            TF_INVALID_ARGUMENT);
  // A size-1 batch axis broadcasts.
  Tensor y = batch.run1({make<float>({1, 1, 1}, {2}), make<float>({3, 1, 1}, {1, 2, 3})});
  EXPECT_EQ(y.shape(), (Shape{3, 1, 1}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{2, 4, 6}));
}

}  // namespace
}  // namespace qtf
