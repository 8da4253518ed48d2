// Reductions (Sum, Mean, Max, Min, Prod), ArgMax and Softmax.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "kernel_testing.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

Tensor pattern(Shape s) {
  Tensor t = Tensor::allocate(TF_FLOAT, s);
  for (int64_t i = 0; i < t.num_elements(); ++i) {
    t.data<float>()[i] = static_cast<float>((i * 7) % 11) - 4.5f;
  }
  return t;
}

// Brute force: group every input element by its kept coordinates.
std::vector<float> reference(const std::string& op, const Tensor& x, const std::vector<bool>& red) {
  std::map<std::vector<int64_t>, std::vector<double>> groups;
  const int rank = x.rank();
  for (int64_t k = 0; k < x.num_elements(); ++k) {
    std::vector<int64_t> key;
    int64_t rem = k;
    std::vector<int64_t> idx(static_cast<size_t>(rank));
    for (int d = rank - 1; d >= 0; --d) {
      idx[static_cast<size_t>(d)] = rem % x.dim(d);
      rem /= x.dim(d);
    }
    for (int d = 0; d < rank; ++d) {
      if (!red[static_cast<size_t>(d)]) key.push_back(idx[static_cast<size_t>(d)]);
    }
    groups[key].push_back(x.data<float>()[k]);
  }
  std::vector<float> out;
  for (const auto& [key, v] : groups) {
    double r = op == "Prod" ? 1 : op == "Max" ? -1e30 : op == "Min" ? 1e30 : 0;
    for (double e : v) {
      if (op == "Sum" || op == "Mean") r += e;
      if (op == "Prod") r *= e;
      if (op == "Max") r = std::max(r, e);
      if (op == "Min") r = std::min(r, e);
    }
    if (op == "Mean") r /= static_cast<double>(v.size());
    out.push_back(static_cast<float>(r));
  }
  return out;
}

struct ReduceCase { Shape shape; std::vector<int32_t> axes; };

class ReduceTest : public ::testing::TestWithParam<ReduceCase> {};

TEST_P(ReduceTest, EveryReducerMatchesBruteForce) {
  const ReduceCase& c = GetParam();
  Tensor x = pattern(c.shape);
  std::vector<bool> red(c.shape.size(), false);
  for (int32_t a : c.axes) red[static_cast<size_t>(a < 0 ? a + static_cast<int>(c.shape.size()) : a)] = true;
  Shape keep_shape, drop_shape;
  for (size_t d = 0; d < c.shape.size(); ++d) {
    keep_shape.push_back(red[d] ? 1 : c.shape[d]);
    if (!red[d]) drop_shape.push_back(c.shape[d]);
  }
  const int64_t n_axes = static_cast<int64_t>(c.axes.size());
  for (const char* op : {"Sum", "Mean", "Max", "Min", "Prod"}) {
    for (bool keep : {false, true}) {
      Node node(op);
      node.attr("T", TF_FLOAT).attr("keep_dims", keep);
      Tensor y = node.run1({x, make<int32_t>({n_axes}, c.axes)});
      EXPECT_EQ(y.shape(), keep ? keep_shape : drop_shape) << op;
      std::vector<float> want = reference(op, x, red);
      std::vector<float> got = values<float>(y);
      ASSERT_EQ(got.size(), want.size()) << op;
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], 1e-4f * std::max(1.f, std::fabs(want[i]))) << op << " " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Axes, ReduceTest,
    ::testing::Values(ReduceCase{{2, 3, 4, 5}, {1, 2}}, ReduceCase{{2, 3, 4}, {-1}},
                      ReduceCase{{2, 3, 4}, {0}}, ReduceCase{{2, 3, 4}, {0, 2}},
                      ReduceCase{{2, 3, 4}, {2, 0, 2}}, ReduceCase{{3, 4}, {0, 1}},
                      ReduceCase{{3, 1, 4}, {1}}, ReduceCase{{2, 3}, {}},
                      ReduceCase{{1, 4, 4, 3}, {1, 2}}, ReduceCase{{2, 1, 3, 1, 2}, {0, 3, 4}}));

TEST(ReduceEdgeTest, ScalarAxisEmptyInputAndErrors) {
  Node sum("Sum");
  sum.attr("T", TF_INT32);
  Tensor y = sum.run1({make<int32_t>({2, 2}, {1, 2, 3, 4}), scalar<int32_t>(1)});
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{3, 7}));
  Node mean("Mean");
  mean.attr("T", TF_FLOAT);
  Tensor empty = mean.run1({Tensor::allocate(TF_FLOAT, {0, 3}), scalar<int32_t>(0)});
  ASSERT_EQ(empty.shape(), (Shape{3}));
  EXPECT_TRUE(std::isnan(values<float>(empty)[0]));
  Node max("Max");
  max.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(max.run1({Tensor::allocate(TF_FLOAT, {0}), scalar<int32_t>(0)}))[0],
            -std::numeric_limits<float>::infinity());
  std::vector<Tensor> out;
  EXPECT_EQ(sum.run({make<int32_t>({2}, {1, 2}), scalar<int32_t>(1)}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(sum.run({make<int32_t>({2}, {1, 2}), scalar(0.f)}, &out).code(), TF_INVALID_ARGUMENT);
  Node mean_int("Mean");
  mean_int.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(mean_int.run1({make<int32_t>({3}, {1, 2, 4}), scalar<int32_t>(0)})),
            (std::vector<int32_t>{2}));
}

TEST(ReduceEdgeTest, SumOfManyFloatsKeepsPrecision) {
  Node sum("Sum");
  sum.attr("T", TF_FLOAT);
  Tensor x = Tensor::allocate(TF_FLOAT, {1 << 20});
  for (int64_t i = 0; i < x.num_elements(); ++i) x.data<float>()[i] = 0.1f;
  const float got = values<float>(sum.run1({x, scalar<int32_t>(0)}))[0];
  EXPECT_NEAR(got, 0.1f * (1 << 20), 1e-2f);
}

TEST(ArgMaxTest, AxesTiesAndOutputTypes) {
  Node node("ArgMax");
  node.attr("T", TF_FLOAT);
  Tensor x = make<float>({2, 3}, {1, 5, 5, 7, 0, 7});
  Tensor last = node.run1({x, scalar<int32_t>(-1)});
  EXPECT_EQ(values<int64_t>(last), (std::vector<int64_t>{1, 0}));  // first of equal maxima
  Tensor first = node.run1({x, scalar<int32_t>(0)});
  EXPECT_EQ(values<int64_t>(first), (std::vector<int64_t>{1, 0, 1}));
  Node i32("ArgMax");
  i32.attr("T", TF_INT32).attr("output_type", TF_INT32);
  EXPECT_EQ(values<int32_t>(i32.run1({make<int32_t>({1, 2, 3}, {3, 9, 1, 4, 2, 8}), scalar<int32_t>(2)})),
            (std::vector<int32_t>{1, 2}));
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({x, scalar<int32_t>(2)}, &out).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(node.run({Tensor::allocate(TF_FLOAT, {2, 0}), scalar<int32_t>(1)}, &out).code(),
            TF_INVALID_ARGUMENT);
}

TEST(SoftmaxTest, RowsSumToOneAndLargeLogitsStayFinite) {
  Node node("Softmax");
  node.attr("T", TF_FLOAT);
  Tensor y = node.run1({make<float>({2, 3}, {0, 0, 0, 1000, 1000, -1000})});
  std::vector<float> v = values<float>(y);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(v[static_cast<size_t>(i)], 1.f / 3, 1e-6);
  EXPECT_NEAR(v[3], 0.5f, 1e-6);
  EXPECT_NEAR(v[4], 0.5f, 1e-6);
  EXPECT_EQ(v[5], 0.f);
  Tensor z = node.run1({make<float>({2}, {1, 2})});
  const float e = std::exp(1.f);
  EXPECT_NEAR(values<float>(z)[1], e / (1 + e), 1e-6);
  std::vector<Tensor> out;
  EXPECT_EQ(node.run({scalar(1.f)}, &out).code(), TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
