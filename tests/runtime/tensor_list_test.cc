// The TensorList kernels one by one on hand-worked lists, and the value
// summary Assert messages use.
#include <gtest/gtest.h>

#include <limits>

#include "kernel_testing.h"
#include "kernels/control/value_summary.h"
#include "kernels/tensor_list/tensor_list.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT

const TensorList& list_of(const Tensor& t) {
  EXPECT_EQ(t.dtype(), TF_VARIANT);
  return *static_cast<const TensorList*>(t.variant_value());
}

Tensor unknown_shape() { return scalar<int32_t>(-1); }

// [[1,2],[3,4],[5,6]] as a list of three [2] elements.
Tensor three_rows() {
  Node from("TensorListFromTensor");
  from.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  return from.run1({make<float>({3, 2}, {1, 2, 3, 4, 5, 6}), ints({2})});
}

TEST(TensorList, FromTensorSplitsRowsAndGetItemReadsThem) {
  const Tensor list = three_rows();
  ASSERT_EQ(list_of(list).elements.size(), 3u);
  Node get("TensorListGetItem");
  get.attr("element_dtype", TF_FLOAT);
  EXPECT_EQ(values<float>(get.run1({list, scalar<int32_t>(1), unknown_shape()})), (std::vector<float>{3, 4}));
  for (int32_t bad : {3, -1}) {
    const Status s = run_error(get, {list, scalar<int32_t>(bad), unknown_shape()});
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << bad;
    EXPECT_NE(s.message().find("in a list with 3 elements"), std::string::npos) << s.message();
  }
  // The list must allow the rows' shape.
  Node from("TensorListFromTensor");
  from.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  EXPECT_EQ(run_error(from, {make<float>({3, 2}, {1, 2, 3, 4, 5, 6}), ints({3})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(from, {scalar<float>(1), unknown_shape()}).code(), TF_INVALID_ARGUMENT);
  // Element dtype mismatch between op and list.
  Node get_int("TensorListGetItem");
  get_int.attr("element_dtype", TF_INT32);
  EXPECT_EQ(run_error(get_int, {list, scalar<int32_t>(0), unknown_shape()}).code(), TF_INVALID_ARGUMENT);
}

TEST(TensorList, UnsetElementsReadAsZerosOnceTheirShapeIsKnown) {
  Node reserve("TensorListReserve");
  reserve.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  const Tensor unknown = reserve.run1({ints({-1, 2}), scalar<int32_t>(2)});
  Node get("TensorListGetItem");
  get.attr("element_dtype", TF_FLOAT);
  // Neither the list nor the op knows the first dimension.
  Status s = run_error(get, {unknown, scalar<int32_t>(0), unknown_shape()});
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("not fully defined"), std::string::npos) << s.message();
  // The op's element_shape completes it.
  Tensor zero = get.run1({unknown, scalar<int32_t>(0), ints({1, 2})});
  EXPECT_EQ(zero.shape(), (Shape{1, 2}));
  EXPECT_EQ(values<float>(zero), (std::vector<float>{0, 0}));
  // So does a set element.
  Node set("TensorListSetItem");
  set.attr("element_dtype", TF_FLOAT);
  const Tensor one_set = set.run1({unknown, scalar<int32_t>(1), make<float>({1, 2}, {7, 8})});
  zero = get.run1({one_set, scalar<int32_t>(0), unknown_shape()});
  EXPECT_EQ(zero.shape(), (Shape{1, 2}));
  Node stack("TensorListStack");
  stack.attr("element_dtype", TF_FLOAT);
  const Tensor stacked = stack.run1({one_set, unknown_shape()});
  EXPECT_EQ(stacked.shape(), (Shape{2, 1, 2}));
  EXPECT_EQ(values<float>(stacked), (std::vector<float>{0, 0, 7, 8}));
  // The first list is a value: setting an element made a new list.
  EXPECT_FALSE(list_of(unknown).elements[1].valid());
}

TEST(TensorList, SetItemChecksIndexAndShapeAndMayGrow) {
  const Tensor list = three_rows();
  Node set("TensorListSetItem");
  set.attr("element_dtype", TF_FLOAT);
  EXPECT_EQ(run_error(set, {list, scalar<int32_t>(3), make<float>({2}, {0, 0})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(run_error(set, {list, scalar<int32_t>(0), make<float>({3}, {0, 0, 0})}).code(), TF_INVALID_ARGUMENT);
  Node grow("TensorListSetItem");
  grow.attr("element_dtype", TF_FLOAT).attr("resize_if_index_out_of_bounds", true);
  const Tensor grown = grow.run1({list, scalar<int32_t>(4), make<float>({2}, {9, 9})});
  ASSERT_EQ(list_of(grown).elements.size(), 5u);
  EXPECT_FALSE(list_of(grown).elements[3].valid());
  Node stack("TensorListStack");
  stack.attr("element_dtype", TF_FLOAT).attr("num_elements", int64_t{5});
  EXPECT_EQ(values<float>(stack.run1({grown, unknown_shape()})),
            (std::vector<float>{1, 2, 3, 4, 5, 6, 0, 0, 9, 9}));
  const Status s = run_error(stack, {list, unknown_shape()});
  EXPECT_NE(s.message().find("expected a list with 5 elements but got a list with 3"), std::string::npos)
      << s.message();
}

TEST(TensorList, PushPopLengthResizeAndElementShape) {
  Node empty("EmptyTensorList");
  empty.attr("element_dtype", TF_INT32).attr("shape_type", TF_INT32);
  Tensor list = empty.run1({unknown_shape(), scalar<int32_t>(2)});
  Node push("TensorListPushBack");
  push.attr("element_dtype", TF_INT32);
  list = push.run1({list, scalar<int32_t>(10)});
  list = push.run1({list, scalar<int32_t>(20)});
  const Status full = run_error(push, {list, scalar<int32_t>(30)});
  EXPECT_NE(full.message().find("Tried to push item into a full list"), std::string::npos) << full.message();
  Node length("TensorListLength");
  EXPECT_EQ(values<int32_t>(length.run1({list})), std::vector<int32_t>{2});
  Node pop("TensorListPopBack");
  pop.attr("element_dtype", TF_INT32);
  std::vector<Tensor> out;
  ASSERT_TRUE(pop.run({list, unknown_shape()}, &out).is_ok());
  EXPECT_EQ(values<int32_t>(out[1]), std::vector<int32_t>{20});
  EXPECT_EQ(values<int32_t>(length.run1({out[0]})), std::vector<int32_t>{1});
  EXPECT_EQ(values<int32_t>(length.run1({list})), std::vector<int32_t>{2}) << "the input list changed";
  Node resize("TensorListResize");
  EXPECT_EQ(values<int32_t>(length.run1({resize.run1({list, scalar<int32_t>(5)})})), std::vector<int32_t>{5});
  EXPECT_EQ(run_error(resize, {list, scalar<int32_t>(-1)}).code(), TF_INVALID_ARGUMENT);
  // Unknown rank is the scalar -1; otherwise the dims with -1 for unknown ones.
  Node shape("TensorListElementShape");
  shape.attr("shape_type", TF_INT64);
  Tensor s = shape.run1({list});
  EXPECT_EQ(s.rank(), 0);
  EXPECT_EQ(values<int64_t>(s), std::vector<int64_t>{-1});
  Node reserve("TensorListReserve");
  reserve.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  s = shape.run1({reserve.run1({ints({-1, 3}), scalar<int32_t>(0)})});
  EXPECT_EQ(values<int64_t>(s), (std::vector<int64_t>{-1, 3}));
  EXPECT_EQ(run_error(pop, {empty.run1({unknown_shape(), scalar<int32_t>(-1)}), unknown_shape()}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(TensorList, GatherScatterConcatAndSplit) {
  const Tensor list = three_rows();
  Node gather("TensorListGather");
  gather.attr("element_dtype", TF_FLOAT);
  EXPECT_EQ(values<float>(gather.run1({list, ints({2, 0, 2}), unknown_shape()})),
            (std::vector<float>{5, 6, 1, 2, 5, 6}));
  EXPECT_EQ(run_error(gather, {list, ints({3}), unknown_shape()}).code(), TF_INVALID_ARGUMENT);

  Node scatter("TensorListScatterV2");
  scatter.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  const Tensor scattered = scatter.run1({make<float>({2, 1}, {7, 8}), ints({3, 1}), unknown_shape(), scalar<int32_t>(5)});
  ASSERT_EQ(list_of(scattered).elements.size(), 5u);
  EXPECT_EQ(values<float>(list_of(scattered).elements[3]), std::vector<float>{7});
  EXPECT_EQ(run_error(scatter, {make<float>({1, 1}, {7}), ints({5}), unknown_shape(), scalar<int32_t>(5)}).code(),
            TF_INVALID_ARGUMENT);

  // Concat joins elements of different lengths along their first axis.
  Node split("TensorListSplit");
  split.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  const Tensor pieces = split.run1({make<float>({3, 2}, {1, 2, 3, 4, 5, 6}), ints({-1, 2}), make<int64_t>({2}, {1, 2})});
  ASSERT_EQ(list_of(pieces).elements.size(), 2u);
  EXPECT_EQ(list_of(pieces).elements[1].shape(), (Shape{2, 2}));
  EXPECT_EQ(run_error(split, {make<float>({3, 2}, {1, 2, 3, 4, 5, 6}), ints({-1, 2}), make<int64_t>({1}, {2})}).code(),
            TF_INVALID_ARGUMENT);
  Node concat("TensorListConcatV2");
  concat.attr("element_dtype", TF_FLOAT).attr("shape_type", TF_INT32);
  std::vector<Tensor> out;
  ASSERT_TRUE(concat.run({pieces, ints({-1, 2}), make<int64_t>({0}, {})}, &out).is_ok());
  EXPECT_EQ(out[0].shape(), (Shape{3, 2}));
  EXPECT_EQ(values<float>(out[0]), (std::vector<float>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(values<int64_t>(out[1]), (std::vector<int64_t>{1, 2}));
}

TEST(ValueSummary, MatchesTensorFlowsAssertFormatting) {
  const struct {
    const char* name;
    Tensor t;
    int64_t max;
    const char* want;
  } cases[] = {
      {"scalar", scalar<int32_t>(7), 3, "7"},
      {"vector cut", make<int32_t>({5}, {1, 2, 3, 4, 5}), 3, "1 2 3..."},
      {"vector whole", make<int32_t>({2}, {1, 2}), 3, "1 2"},
      {"matrix cut inside a row", make<int32_t>({2, 2}, {1, 2, 3, 4}), 3, "[1 2][3...]..."},
      {"matrix whole", make<int32_t>({2, 2}, {1, 2, 3, 4}), -1, "[1 2][3 4]"},
      {"floats", make<float>({3}, {0.1f, 1.0f / 3, 16777216.0f}), 3, "0.1 0.333333343 16777216"},
      {"float needing 9 digits", make<float>({1}, {1.0000001f}), 3, "1.00000012"},
      {"specials", make<float>({3}, {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::quiet_NaN()}), 3, "inf -inf nan"},
      {"bools", make<bool>({2}, {true, false}), 3, "1 0"},
      {"strings", Tensor::strings({2}, {"a b", "line\nbreak"}), 3, "a b line\\nbreak"},
      {"none shown", make<int32_t>({2}, {1, 2}), 0, "..."},
  };
  for (const auto& c : cases) EXPECT_EQ(summarize_value(c.t, c.max), c.want) << c.name;
}

}  // namespace
}  // namespace qtf
