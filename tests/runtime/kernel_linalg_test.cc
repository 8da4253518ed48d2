// MatMul, BatchMatMulV2 and FusedBatchNormV3.
#include <gtest/gtest.h>

#include <cmath>

#include "kernel_testing.h"
#include "kernels/dnnl/dnnl_context.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::values;

Tensor pattern(Shape s, float phase) {
  Tensor t = Tensor::allocate(TF_FLOAT, s);
  for (int64_t i = 0; i < t.num_elements(); ++i) {
    t.data<float>()[i] = std::sin(static_cast<float>(i) * 0.7f + phase);
  }
  return t;
}

// Element (i, j) of matrix `batch` of a [..., r, c] tensor, read transposed if asked.
float at(const Tensor& t, int64_t batch, int64_t i, int64_t j, bool transposed) {
  const int64_t r = t.dim(t.rank() - 2), c = t.dim(t.rank() - 1);
  const float* base = t.data<float>() + batch * r * c;
  return transposed ? base[j * c + i] : base[i * c + j];
}

TEST(MatMulTest, HandWorkedProduct) {
  Node node("MatMul");
  node.attr("T", TF_FLOAT);
  Tensor p = node.run1({make<float>({2, 3}, {1, 2, 3, 4, 5, 6}),
                        make<float>({3, 2}, {7, 8, 9, 10, 11, 12})});
  EXPECT_EQ(p.shape(), (Shape{2, 2}));
  EXPECT_EQ(values<float>(p), (std::vector<float>{58, 64, 139, 154}));
}

TEST(MatMulTest, TransposeFlagsMatchNaiveProduct) {
  for (bool ta : {false, true}) {
    for (bool tb : {false, true}) {
      const int64_t m = 5, k = 7, n = 3;
      Tensor a = pattern(ta ? Shape{k, m} : Shape{m, k}, 0.1f);
      Tensor b = pattern(tb ? Shape{n, k} : Shape{k, n}, 1.3f);
      Node node("MatMul");
      node.attr("T", TF_FLOAT).attr("transpose_a", ta).attr("transpose_b", tb);
      Tensor p = node.run1({a, b});
      ASSERT_EQ(p.shape(), (Shape{m, n}));
      for (int64_t i = 0; i < m; ++i) {
        for (int64_t j = 0; j < n; ++j) {
          float want = 0;
          for (int64_t q = 0; q < k; ++q) want += at(a, 0, i, q, ta) * at(b, 0, q, j, tb);
          EXPECT_NEAR(p.data<float>()[i * n + j], want, 1e-5) << ta << tb << i << j;
        }
      }
    }
  }
}

TEST(MatMulTest, SecondRunCreatesNoPrimitive) {
  Node node("MatMul");
  node.attr("T", TF_FLOAT);
  Tensor a = pattern({4, 6}, 0), b = pattern({6, 2}, 1);
  node.run1({a, b});
  const int64_t created = dnnl_primitives_created();
  node.run1({a, b});
  EXPECT_EQ(dnnl_primitives_created(), created);
}

TEST(MatMulTest, Errors) {
  Node node("MatMul");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({pattern({2, 3}, 0), pattern({2, 3}, 0)}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({pattern({2, 3, 1}, 0), pattern({1, 3}, 0)}, &out).code(), TF_INVALID_ARGUMENT);
  Node ints("MatMul");
  ints.attr("T", TF_INT32);
  EXPECT_EQ(ints.prepare().code(), TF_UNIMPLEMENTED);
}

TEST(BatchMatMulV2Test, BroadcastBatchesAndAdjoints) {
  struct Case { Shape x, y; bool adj_x, adj_y; Shape out; };
  const Case cases[] = {
      {{3, 2, 4}, {3, 4, 5}, false, false, {3, 2, 5}},
      {{2, 1, 2, 4}, {3, 4, 2}, false, false, {2, 3, 2, 2}},
      {{4, 2}, {2, 3, 4, 1}, true, false, {2, 3, 2, 1}},
      {{2, 3, 4}, {1, 5, 4}, false, true, {2, 3, 5}},
  };
  for (const Case& c : cases) {
    Tensor x = pattern(c.x, 0.2f), y = pattern(c.y, 2.1f);
    Node node("BatchMatMulV2");
    node.attr("T", TF_FLOAT).attr("adj_x", c.adj_x).attr("adj_y", c.adj_y);
    Tensor out = node.run1({x, y});
    ASSERT_EQ(out.shape(), c.out);
    const int64_t m = c.out[c.out.size() - 2], n = c.out.back();
    const int64_t k = c.adj_x ? x.dim(x.rank() - 2) : x.dim(x.rank() - 1);
    // Map each output batch index back to x and y batches by hand.
    const size_t br = c.out.size() - 2;
    const int64_t batches = out.num_elements() / (m * n);
    for (int64_t b = 0; b < batches; ++b) {
      std::vector<int64_t> idx(br);
      int64_t rem = b;
      for (size_t d = br; d-- > 0;) {
        idx[d] = rem % c.out[d];
        rem /= c.out[d];
      }
      auto source = [&](const Shape& s) {
        const size_t sr = s.size() - 2;
        int64_t flat = 0;
        for (size_t d = 0; d < sr; ++d) {
          const int64_t i = idx[br - sr + d];
          flat = flat * s[d] + (s[d] == 1 ? 0 : i);
        }
        return flat;
      };
      const int64_t xb = source(c.x), yb = source(c.y);
      for (int64_t i = 0; i < m; ++i) {
        for (int64_t j = 0; j < n; ++j) {
          float want = 0;
          for (int64_t q = 0; q < k; ++q) want += at(x, xb, i, q, c.adj_x) * at(y, yb, q, j, c.adj_y);
          EXPECT_NEAR(out.data<float>()[(b * m + i) * n + j], want, 1e-5)
              << shape_string(c.x) << " x " << shape_string(c.y);
        }
      }
    }
  }
  Node node("BatchMatMulV2");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({pattern({2, 2, 3}, 0), pattern({3, 3, 1}, 0)}, &out).code(), TF_INVALID_ARGUMENT);
}

TEST(FusedBatchNormV3Test, InferenceFormulaAndPassThroughMoments) {
  Node node("FusedBatchNormV3");
  node.attr("T", TF_FLOAT).attr("U", TF_FLOAT).attr("is_training", false).attr("epsilon", 0.001f);
  Tensor x = make<float>({1, 1, 2, 2}, {1, 2, 3, 4});
  Tensor scale = make<float>({2}, {2, 0.5f});
  Tensor offset = make<float>({2}, {1, -1});
  Tensor mean = make<float>({2}, {1, 2});
  Tensor var = make<float>({2}, {4, 1});
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run({x, scale, offset, mean, var}, &out).is_ok());
  ASSERT_EQ(out.size(), 6u);
  const float s0 = 2 / std::sqrt(4.001f), s1 = 0.5f / std::sqrt(1.001f);
  const std::vector<float> want = {(1 - 1) * s0 + 1, (2 - 2) * s1 - 1, (3 - 1) * s0 + 1, (4 - 2) * s1 - 1};
  std::vector<float> y = values<float>(out[0]);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(y[i], want[i], 1e-6);
  EXPECT_EQ(values<float>(out[1]), (std::vector<float>{1, 2}));
  EXPECT_EQ(values<float>(out[2]), (std::vector<float>{4, 1}));
  EXPECT_TRUE(out[5].valid());
}

TEST(FusedBatchNormV3Test, TrainingDefaultIsRefusedAndShapesChecked) {
  Node training("FusedBatchNormV3");  // is_training left to its default, true
  training.attr("T", TF_FLOAT).attr("U", TF_FLOAT);
  EXPECT_EQ(training.prepare().code(), TF_UNIMPLEMENTED);
  Node node("FusedBatchNormV3");
  node.attr("T", TF_FLOAT).attr("U", TF_FLOAT).attr("is_training", false);
  std::vector<Tensor> out;
  Tensor two = make<float>({2}, {1, 1});
  EXPECT_EQ(node.run({make<float>({1, 3}, {1, 2, 3}), two, two, two, two}, &out).code(),
            TF_INVALID_ARGUMENT);
  // NCHW and NCDHW are handled (kernel_norm_test.cc); other layouts are refused.
  Node vect("FusedBatchNormV3");
  vect.attr("T", TF_FLOAT).attr("U", TF_FLOAT).attr("is_training", false);
  vect.attr("data_format", "NCHW_VECT_C");
  EXPECT_EQ(vect.prepare().code(), TF_UNIMPLEMENTED);
}

}  // namespace
}  // namespace qtf
