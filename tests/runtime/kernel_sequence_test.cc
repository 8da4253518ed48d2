// Index and sequence kernels: Where, Range, LinSpace, Size, Rank, ZerosLike,
// OnesLike, BroadcastTo, Cumsum/Cumprod, TopKV2, OneHot, ArgMin/ArgMax,
// ReverseV2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel_testing.h"
#include "reference_case.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

struct SequenceCase {
  const char* name;
  const char* op;
  void (*setup)(Node&);
};

class SequenceReferenceTest : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(SequenceReferenceTest, MatchesNumpy) {
  const SequenceCase& c = GetParam();
  Node node(c.op);
  c.setup(node);
  testing::expect_reference(node, c.name);
}

void float_t(Node& n) { n.attr("T", TF_FLOAT); }
void bool_t(Node& n) { n.attr("T", TF_BOOL); }
void int_t(Node& n) { n.attr("T", TF_INT32); }
template <bool kExclusive, bool kReverse>
void scan(Node& n) { n.attr("T", TF_FLOAT).attr("exclusive", kExclusive).attr("reverse", kReverse); }
template <int kAxis>
void one_hot(Node& n) { n.attr("T", TF_FLOAT).attr("TI", TF_INT64).attr("axis", kAxis); }
void range_float(Node& n) { n.attr("Tidx", TF_FLOAT); }
void range_int(Node& n) { n.attr("Tidx", TF_INT32); }

#define SCAN_CASES(axis)                                                          \
  SequenceCase{"cumsum_ax" axis, "Cumsum", scan<false, false>},                   \
      SequenceCase{"cumsum_ax" axis "_excl", "Cumsum", scan<true, false>},         \
      SequenceCase{"cumsum_ax" axis "_rev", "Cumsum", scan<false, true>},          \
      SequenceCase{"cumsum_ax" axis "_excl_rev", "Cumsum", scan<true, true>}

INSTANTIATE_TEST_SUITE_P(
    Cases, SequenceReferenceTest,
    ::testing::Values(SequenceCase{"where_float_3d", "Where", float_t},
                      SequenceCase{"where_bool_2d", "Where", bool_t},
                      SCAN_CASES("0"), SCAN_CASES("1"), SCAN_CASES("m1"),
                      SequenceCase{"cumprod_int_ax1", "Cumprod", int_t},
                      SequenceCase{"top_k_ties", "TopKV2", float_t},
                      SequenceCase{"top_k_3d", "TopKV2", float_t},
                      SequenceCase{"one_hot_last", "OneHot", one_hot<-1>},
                      SequenceCase{"one_hot_axis0", "OneHot", one_hot<0>},
                      SequenceCase{"one_hot_axis1", "OneHot", one_hot<1>},
                      SequenceCase{"reverse_0_2", "ReverseV2", float_t},
                      SequenceCase{"broadcast_to_2_3_4", "BroadcastTo", float_t},
                      SequenceCase{"range_float", "Range", range_float},
                      SequenceCase{"range_int_down", "Range", range_int},
                      SequenceCase{"arg_min_ax1", "ArgMin", float_t},
                      SequenceCase{"arg_max_axm1", "ArgMax", float_t}));
#undef SCAN_CASES

TEST(WhereTest, ScalarsEmptiesAndIntegers) {
  Node node("Where");
  node.attr("T", TF_INT32);
  Tensor none = node.run1({make<int32_t>({2, 0, 3}, {})});
  EXPECT_EQ(none.shape(), (Shape{0, 3}));
  Tensor one = node.run1({scalar<int32_t>(7)});
  EXPECT_EQ(one.shape(), (Shape{1, 0}));
  Tensor zero = node.run1({scalar<int32_t>(0)});
  EXPECT_EQ(zero.shape(), (Shape{0, 0}));
  Tensor vec = node.run1({make<int32_t>({5}, {0, -2, 0, 0, 9})});
  EXPECT_EQ(vec.dtype(), TF_INT64);
  EXPECT_EQ(values<int64_t>(vec), (std::vector<int64_t>{1, 4}));
}

TEST(RangeTest, HandCasesAndErrors) {
  Node up("Range");
  up.attr("Tidx", TF_INT64);
  EXPECT_EQ(values<int64_t>(up.run1({scalar<int64_t>(3), scalar<int64_t>(18), scalar<int64_t>(3)})),
            (std::vector<int64_t>{3, 6, 9, 12, 15}));
  Node empty("Range");
  EXPECT_EQ(empty.run1({scalar<int32_t>(4), scalar<int32_t>(4), scalar<int32_t>(1)}).shape(), (Shape{0}));
  // limit - start overflows int32; the count must not.
  Node wide("Range");
  Tensor w = wide.run1({scalar<int32_t>(std::numeric_limits<int32_t>::min()),
                        scalar<int32_t>(std::numeric_limits<int32_t>::max()),
                        scalar<int32_t>(std::numeric_limits<int32_t>::max())});
  EXPECT_EQ(values<int32_t>(w), (std::vector<int32_t>{std::numeric_limits<int32_t>::min(), -1, 2147483646}));
  for (auto inputs : {std::vector<int32_t>{0, 5, 0}, std::vector<int32_t>{5, 0, 1}, std::vector<int32_t>{0, 5, -1}}) {
    Node bad("Range");
    EXPECT_EQ(testing::run_error(bad, {scalar(inputs[0]), scalar(inputs[1]), scalar(inputs[2])}).code(),
              TF_INVALID_ARGUMENT);
  }
  Node vec("Range");
  EXPECT_EQ(testing::run_error(vec, {make<int32_t>({2}, {0, 1}), scalar(5), scalar(1)}).code(),
            TF_INVALID_ARGUMENT);
  Node real("Range");
  real.attr("Tidx", TF_DOUBLE);
  EXPECT_EQ(testing::run_error(real, {scalar(0.0), scalar(std::numeric_limits<double>::infinity()), scalar(1.0)}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(LinSpaceTest, EndpointsAndErrors) {
  Node node("LinSpace");
  node.attr("T", TF_DOUBLE);
  EXPECT_EQ(values<double>(node.run1({scalar(1.0), scalar(2.0), scalar<int32_t>(5)})),
            (std::vector<double>{1.0, 1.25, 1.5, 1.75, 2.0}));
  Node one("LinSpace");
  one.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(one.run1({scalar(3.f), scalar(9.f), scalar<int64_t>(1)})), (std::vector<float>{3.f}));
  // The last value is stop itself, whatever the rounding of the step.
  Node down("LinSpace");
  down.attr("T", TF_FLOAT);
  std::vector<float> d = values<float>(down.run1({scalar(0.1f), scalar(-0.7f), scalar<int32_t>(7)}));
  ASSERT_EQ(d.size(), 7u);
  EXPECT_EQ(d.back(), -0.7f);
  EXPECT_NEAR(d[3], -0.3f, 1e-6);
  Node zero("LinSpace");
  zero.attr("T", TF_FLOAT);
  EXPECT_EQ(testing::run_error(zero, {scalar(0.f), scalar(1.f), scalar<int32_t>(0)}).code(), TF_INVALID_ARGUMENT);
}

TEST(SizeRankTest, CountsAndTypes) {
  const Tensor x = make<float>({2, 3, 4}, std::vector<float>(24, 0.f));
  Node size("Size");
  size.attr("T", TF_FLOAT);
  EXPECT_EQ(values<int32_t>(size.run1({x})), (std::vector<int32_t>{24}));
  Node size64("Size");
  size64.attr("T", TF_FLOAT).attr("out_type", TF_INT64);
  Tensor s = size64.run1({make<float>({0, 5}, {})});
  EXPECT_EQ(s.shape(), Shape{});
  EXPECT_EQ(values<int64_t>(s), (std::vector<int64_t>{0}));
  Node rank("Rank");
  rank.attr("T", TF_FLOAT);
  EXPECT_EQ(values<int32_t>(rank.run1({x})), (std::vector<int32_t>{3}));
  EXPECT_EQ(values<int32_t>(rank.run1({scalar(1.f)})), (std::vector<int32_t>{0}));
}

TEST(FillLikeTest, ZerosAndOnesOfEachType) {
  Node zeros("ZerosLike");
  zeros.attr("T", TF_FLOAT);
  EXPECT_EQ(values<float>(zeros.run1({make<float>({2}, {3, -1})})), (std::vector<float>{0, 0}));
  Node ones("OnesLike");
  ones.attr("T", TF_INT64);
  Tensor o = ones.run1({make<int64_t>({2, 1}, {5, 6})});
  EXPECT_EQ(o.shape(), (Shape{2, 1}));
  EXPECT_EQ(values<int64_t>(o), (std::vector<int64_t>{1, 1}));
  Node bools("OnesLike");
  bools.attr("T", TF_BOOL);
  EXPECT_EQ(values<bool>(bools.run1({make<bool>({3}, {false, true, false})})), (std::vector<bool>{true, true, true}));
  Node wrong("ZerosLike");
  wrong.attr("T", TF_FLOAT);
  EXPECT_EQ(testing::run_error(wrong, {scalar<int32_t>(1)}).code(), TF_INVALID_ARGUMENT);
}

TEST(BroadcastToTest, ScalarsStringsAndErrors) {
  Node node("BroadcastTo");
  node.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(node.run1({scalar<int32_t>(4), testing::ints({2, 2})})),
            (std::vector<int32_t>{4, 4, 4, 4}));
  Node same("BroadcastTo");
  same.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(same.run1({make<int32_t>({1, 3}, {1, 2, 3}), testing::ints({2, 3})})),
            (std::vector<int32_t>{1, 2, 3, 1, 2, 3}));
  Node strings("BroadcastTo");
  strings.attr("T", TF_STRING);
  Tensor s = strings.run1({Tensor::strings({2, 1}, {"a", "b"}), testing::ints({2, 2})});
  EXPECT_EQ(s.string_values(), (std::vector<std::string>{"a", "a", "b", "b"}));
  Node empty("BroadcastTo");
  empty.attr("T", TF_INT32);
  EXPECT_EQ(empty.run1({make<int32_t>({1}, {1}), testing::ints({0, 1})}).shape(), (Shape{0, 1}));
  for (std::vector<int32_t> bad : {std::vector<int32_t>{2, 2}, std::vector<int32_t>{3}, std::vector<int32_t>{-1, 3}}) {
    Node node2("BroadcastTo");
    node2.attr("T", TF_INT32);
    EXPECT_EQ(testing::run_error(node2, {make<int32_t>({1, 3}, {1, 2, 3}), testing::ints(bad)}).code(),
              TF_INVALID_ARGUMENT);
  }
}

TEST(CumulativeTest, IntegersEmptyAndBadAxis) {
  Node node("Cumsum");
  node.attr("T", TF_INT64).attr("exclusive", true).attr("reverse", true);
  EXPECT_EQ(values<int64_t>(node.run1({make<int64_t>({4}, {1, 2, 3, 4}), scalar<int32_t>(0)})),
            (std::vector<int64_t>{9, 7, 4, 0}));
  Node prod("Cumprod");
  prod.attr("T", TF_FLOAT).attr("exclusive", true);
  EXPECT_EQ(values<float>(prod.run1({make<float>({3}, {2, 3, 4}), scalar<int32_t>(-1)})),
            (std::vector<float>{1, 2, 6}));
  Node empty("Cumsum");
  empty.attr("T", TF_FLOAT);
  EXPECT_EQ(empty.run1({make<float>({2, 0}, {}), scalar<int32_t>(1)}).shape(), (Shape{2, 0}));
  Node bad("Cumsum");
  bad.attr("T", TF_FLOAT);
  EXPECT_EQ(testing::run_error(bad, {make<float>({2}, {1, 2}), scalar<int32_t>(1)}).code(), TF_INVALID_ARGUMENT);
}

TEST(TopKTest, NanKZeroAndErrors) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Node node("TopKV2");
  node.attr("T", TF_FLOAT);
  std::vector<Tensor> out;
  ASSERT_TRUE(node.run({make<float>({5}, {1, nan, 3, 3, -2}), scalar<int32_t>(3)}, &out).is_ok());
  std::vector<float> v = values<float>(out[0]);
  EXPECT_TRUE(std::isnan(v[0]));
  EXPECT_EQ(v[1], 3.f);
  EXPECT_EQ(v[2], 3.f);
  EXPECT_EQ(values<int32_t>(out[1]), (std::vector<int32_t>{1, 2, 3}));
  Node k0("TopKV2");
  k0.attr("T", TF_INT32).attr("index_type", TF_INT64);
  ASSERT_TRUE(k0.run({make<int32_t>({2, 3}, {1, 2, 3, 4, 5, 6}), scalar<int32_t>(0)}, &out).is_ok());
  EXPECT_EQ(out[0].shape(), (Shape{2, 0}));
  EXPECT_EQ(out[1].dtype(), TF_INT64);
  for (int32_t k : {-1, 4}) {
    Node bad("TopKV2");
    bad.attr("T", TF_INT32);
    EXPECT_EQ(testing::run_error(bad, {make<int32_t>({3}, {1, 2, 3}), scalar(k)}).code(), TF_INVALID_ARGUMENT);
  }
  Node rank0("TopKV2");
  rank0.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(rank0, {scalar<int32_t>(1), scalar<int32_t>(1)}).code(), TF_INVALID_ARGUMENT);
}

TEST(OneHotTest, OtherTypesAndErrors) {
  Node node("OneHot");
  node.attr("T", TF_INT32).attr("TI", TF_INT32);
  Tensor y = node.run1({make<int32_t>({3}, {2, -1, 9}), scalar<int32_t>(3), scalar<int32_t>(1), scalar<int32_t>(0)});
  EXPECT_EQ(y.shape(), (Shape{3, 3}));
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{0, 0, 1, 0, 0, 0, 0, 0, 0}));
  Node scalar_index("OneHot");
  scalar_index.attr("T", TF_BOOL).attr("TI", TF_UINT8);
  EXPECT_EQ(values<bool>(scalar_index.run1({scalar<uint8_t>(1), scalar<int32_t>(2), scalar(true), scalar(false)})),
            (std::vector<bool>{false, true}));
  Node depth("OneHot");
  depth.attr("T", TF_FLOAT).attr("TI", TF_INT32);
  EXPECT_EQ(testing::run_error(depth, {make<int32_t>({1}, {0}), scalar<int32_t>(-1), scalar(1.f), scalar(0.f)}).code(),
            TF_INVALID_ARGUMENT);
  Node axis("OneHot");
  axis.attr("T", TF_FLOAT).attr("TI", TF_INT32).attr("axis", 2);
  EXPECT_EQ(testing::run_error(axis, {make<int32_t>({1}, {0}), scalar<int32_t>(2), scalar(1.f), scalar(0.f)}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(ArgMinTest, TiesTakeTheFirstAndEmptyAxisFails) {
  Node node("ArgMin");
  node.attr("T", TF_INT32).attr("output_type", TF_INT32);
  EXPECT_EQ(values<int32_t>(node.run1({make<int32_t>({2, 3}, {5, 1, 1, 0, 0, 7}), scalar<int32_t>(1)})),
            (std::vector<int32_t>{1, 0}));
  Node empty("ArgMin");
  empty.attr("T", TF_FLOAT);
  EXPECT_EQ(testing::run_error(empty, {make<float>({0, 2}, {}), scalar<int32_t>(0)}).code(), TF_INVALID_ARGUMENT);
}

TEST(ReverseTest, RepeatedAxisStringsAndEmptyAxes) {
  Node node("ReverseV2");
  node.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(node, {make<int32_t>({2, 2}, {1, 2, 3, 4}), testing::ints({1, -1})}).code(),
            TF_INVALID_ARGUMENT);
  Node none("ReverseV2");
  none.attr("T", TF_INT32);
  EXPECT_EQ(values<int32_t>(none.run1({make<int32_t>({3}, {1, 2, 3}), make<int32_t>({0}, {})})),
            (std::vector<int32_t>{1, 2, 3}));
  Node strings("ReverseV2");
  strings.attr("T", TF_STRING);
  Tensor s = strings.run1({Tensor::strings({3}, {"a", "b", "c"}), testing::ints({0})});
  EXPECT_EQ(s.string_values(), (std::vector<std::string>{"c", "b", "a"}));
  Node range("ReverseV2");
  range.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(range, {make<int32_t>({3}, {1, 2, 3}), testing::ints({1})}).code(),
            TF_INVALID_ARGUMENT);
}

// out[i] = in[i with each listed axis counted from its end], by index arithmetic.
template <typename T>
std::vector<T> reversed_by_index(const std::vector<T>& in, const Shape& shape, const std::vector<int>& axes) {
  std::vector<T> out(in.size());
  std::vector<int64_t> index(shape.size(), 0);
  for (size_t flat = 0; flat < in.size(); ++flat) {
    int64_t rest = static_cast<int64_t>(flat), src = 0, stride = 1;
    for (size_t d = shape.size(); d-- > 0;) {
      index[d] = rest % shape[d];
      rest /= shape[d];
    }
    for (size_t d = shape.size(); d-- > 0;) {
      const bool flip = std::find(axes.begin(), axes.end(), static_cast<int>(d)) != axes.end();
      src += (flip ? shape[d] - 1 - index[d] : index[d]) * stride;
      stride *= shape[d];
    }
    out[flat] = in[static_cast<size_t>(src)];
  }
  return out;
}

template <typename T>
void expect_reversals(TF_DataType dtype) {
  const struct {
    Shape shape;
    std::vector<int> axes;
  } cases[] = {
      {{1, 5, 7, 3}, {2}},        // an image's width, channels inside
      {{1, 5, 7, 1}, {2}},        // one channel: the width is innermost
      {{3, 4, 2}, {1}},           // blocks of two, then of four
      {{2, 3, 4}, {1}},
      {{2, 3, 4, 5}, {1, 2}},     // adjacent axes: one merged reversal
      {{2, 3, 4, 5}, {0, 3}},     // outermost and innermost
      {{2, 3, 4, 5}, {0, 1, 2, 3}},
      {{3, 1, 4}, {0, 2}},        // a unit axis between two flipped ones
      {{3, 1, 4}, {1}},           // only a unit axis: a plain copy
      {{6}, {0}},
      {{4, 6}, {}},
  };
  for (const auto& c : cases) {
    std::vector<T> in(static_cast<size_t>(num_elements(c.shape)));
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<T>(i * 7 + 1);
    std::vector<int32_t> axes(c.axes.begin(), c.axes.end());
    Node node("ReverseV2");
    node.attr("T", dtype);
    const Tensor out = node.run1({make<T>(c.shape, in), make<int32_t>({static_cast<int64_t>(axes.size())}, axes)});
    EXPECT_EQ(out.shape(), c.shape);
    EXPECT_EQ(values<T>(out), reversed_by_index(in, c.shape, c.axes))
        << shape_string(c.shape) << " axes " << ::testing::PrintToString(c.axes);
  }
}

TEST(ReverseTest, EveryAxisSetAndElementSizeMatchesIndexArithmetic) {
  expect_reversals<uint8_t>(TF_UINT8);
  expect_reversals<int16_t>(TF_INT16);
  expect_reversals<float>(TF_FLOAT);
  expect_reversals<double>(TF_DOUBLE);
  // An empty tensor stays empty.
  Node empty("ReverseV2");
  empty.attr("T", TF_FLOAT);
  EXPECT_EQ(empty.run1({make<float>({2, 0, 3}, {}), testing::ints({1})}).shape(), (Shape{2, 0, 3}));
}

}  // namespace
}  // namespace qtf
