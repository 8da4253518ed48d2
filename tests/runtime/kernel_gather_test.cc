// Gathers and scatters: GatherV2 (axes, batch_dims), Gather, GatherNd,
// ResourceGather, ScatterNd, TensorScatter*, SparseToDense; out-of-range
// indices fail with INVALID_ARGUMENT.
#include <gtest/gtest.h>

#include <memory>

#include "core/variable.h"
#include "kernel_testing.h"
#include "reference_case.h"

namespace qtf {
namespace {

using testing::make;
using testing::Node;
using testing::scalar;
using testing::values;

struct GatherCase {
  const char* name;
  const char* op;
  void (*setup)(Node&);
};

class GatherReferenceTest : public ::testing::TestWithParam<GatherCase> {};

TEST_P(GatherReferenceTest, MatchesNumpy) {
  const GatherCase& c = GetParam();
  Node node(c.op);
  c.setup(node);
  testing::expect_reference(node, c.name, 0);
}

void params(Node& n) { n.attr("Tparams", TF_FLOAT); }
void batch1(Node& n) { n.attr("Tparams", TF_FLOAT).attr("batch_dims", 1); }
void batch_minus1(Node& n) { n.attr("Tparams", TF_FLOAT).attr("batch_dims", -1); }
void float_t(Node& n) { n.attr("T", TF_FLOAT); }
void int_t(Node& n) { n.attr("T", TF_INT32); }

INSTANTIATE_TEST_SUITE_P(
    Cases, GatherReferenceTest,
    ::testing::Values(GatherCase{"gather_v2_axis1", "GatherV2", params},
                      GatherCase{"gather_v2_axism1", "GatherV2", params},
                      GatherCase{"gather_v2_batch1", "GatherV2", batch1},
                      GatherCase{"gather_v2_batch1", "GatherV2", batch_minus1},
                      GatherCase{"gather_v2_batch1_axis2", "GatherV2", batch1},
                      GatherCase{"gather_nd_slices", "GatherNd", params},
                      GatherCase{"gather_nd_elements", "GatherNd", params},
                      GatherCase{"scatter_nd_repeats", "ScatterNd", float_t},
                      GatherCase{"tensor_scatter_update", "TensorScatterUpdate", float_t},
                      GatherCase{"tensor_scatter_add", "TensorScatterAdd", float_t},
                      GatherCase{"sparse_to_dense_2d", "SparseToDense", int_t}));

TEST(GatherV2Test, ScalarIndexEmptyIndicesAndStrings) {
  const Tensor p = make<int32_t>({2, 3}, {1, 2, 3, 4, 5, 6});
  Node node("GatherV2");
  Tensor col = node.run1({p, scalar<int32_t>(2), scalar<int32_t>(1)});
  EXPECT_EQ(col.shape(), (Shape{2}));
  EXPECT_EQ(values<int32_t>(col), (std::vector<int32_t>{3, 6}));
  Node empty("GatherV2");
  EXPECT_EQ(empty.run1({p, make<int64_t>({0}, {}), scalar<int32_t>(0)}).shape(), (Shape{0, 3}));
  Node strings("GatherV2");
  Tensor s = strings.run1({Tensor::strings({3}, {"x", "y", "z"}), testing::ints({2, 2, 0}), scalar<int32_t>(0)});
  EXPECT_EQ(s.string_values(), (std::vector<std::string>{"z", "z", "x"}));
}

TEST(GatherV2Test, OutOfRangeIndicesFailWithoutReading) {
  const Tensor p = make<float>({3, 2}, {1, 2, 3, 4, 5, 6});
  for (int32_t bad : {3, -1, 1000000}) {
    Node node("GatherV2");
    Status s = testing::run_error(node, {p, make<int32_t>({2, 2}, {0, 1, 2, bad}), scalar<int32_t>(0)});
    EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT) << bad;
    EXPECT_NE(s.message().find("indices[1,1] = " + std::to_string(bad) + " is not in [0, 3)"),
              std::string::npos) << s.message();
  }
  Node axis("GatherV2");
  EXPECT_EQ(testing::run_error(axis, {p, scalar<int32_t>(0), scalar<int32_t>(2)}).code(), TF_INVALID_ARGUMENT);
  Node batch("GatherV2");
  batch.attr("batch_dims", 1);
  // batch_dims may not exceed the axis.
  EXPECT_EQ(testing::run_error(batch, {p, make<int32_t>({3, 1}, {0, 0, 0}), scalar<int32_t>(0)}).code(),
            TF_INVALID_ARGUMENT);
  Node mismatch("GatherV2");
  mismatch.attr("batch_dims", 1);
  EXPECT_EQ(testing::run_error(mismatch, {p, make<int32_t>({2, 1}, {0, 0}), scalar<int32_t>(1)}).code(),
            TF_INVALID_ARGUMENT);
}

TEST(GatherTest, LegacyGatherUsesAxisZero) {
  Node node("Gather");
  Tensor y = node.run1({make<int32_t>({3, 2}, {1, 2, 3, 4, 5, 6}), make<int64_t>({2}, {2, 0})});
  EXPECT_EQ(values<int32_t>(y), (std::vector<int32_t>{5, 6, 1, 2}));
  Node bad("Gather");
  EXPECT_EQ(testing::run_error(bad, {make<int32_t>({1}, {1}), scalar<int32_t>(1)}).code(), TF_INVALID_ARGUMENT);
}

Tensor variable_handle(Tensor value) {
  auto variable = std::make_shared<Variable>();
  variable->name = "test/embeddings";
  variable->dtype = value.dtype();
  variable->value = std::move(value);
  return Tensor::resource(std::move(variable));
}

TEST(ResourceGatherTest, ReadsRowsOfTheVariable) {
  Node node("ResourceGather");
  node.attr("dtype", TF_FLOAT);
  Tensor handle = variable_handle(make<float>({3, 2}, {1, 2, 3, 4, 5, 6}));
  Tensor y = node.run1({handle, make<int32_t>({2, 2}, {2, 0, 1, 1})});
  EXPECT_EQ(y.shape(), (Shape{2, 2, 2}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{5, 6, 1, 2, 3, 4, 3, 4}));
  Node bad("ResourceGather");
  bad.attr("dtype", TF_FLOAT);
  EXPECT_EQ(testing::run_error(bad, {handle, make<int32_t>({1}, {3})}).code(), TF_INVALID_ARGUMENT);
  Node wrong_type("ResourceGather");
  wrong_type.attr("dtype", TF_INT32);
  EXPECT_EQ(testing::run_error(wrong_type, {handle, make<int32_t>({1}, {0})}).code(), TF_INVALID_ARGUMENT);
  auto empty = std::make_shared<Variable>();
  empty->dtype = TF_FLOAT;
  Node uninit("ResourceGather");
  uninit.attr("dtype", TF_FLOAT);
  EXPECT_EQ(testing::run_error(uninit, {Tensor::resource(empty), make<int32_t>({1}, {0})}).code(),
            TF_FAILED_PRECONDITION);
}

TEST(ResourceGatherTest, BatchDims) {
  Node node("ResourceGather");
  node.attr("dtype", TF_INT32).attr("batch_dims", 1);
  Tensor handle = variable_handle(make<int32_t>({2, 3}, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(values<int32_t>(node.run1({handle, make<int32_t>({2, 2}, {2, 0, 1, 1})})),
            (std::vector<int32_t>{3, 1, 5, 5}));
}

TEST(GatherNdTest, WholeParamsAndBadRows) {
  const Tensor p = make<int32_t>({2, 2}, {1, 2, 3, 4});
  Node rows("GatherNd");
  EXPECT_EQ(values<int32_t>(rows.run1({p, make<int32_t>({2, 1}, {1, 0})})), (std::vector<int32_t>{3, 4, 1, 2}));
  Node bad("GatherNd");
  Status s = testing::run_error(bad, {p, make<int32_t>({2, 2}, {0, 1, 2, 0})});
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("indices[1] = [2, 0]"), std::string::npos) << s.message();
  Node negative("GatherNd");
  EXPECT_EQ(testing::run_error(negative, {p, make<int32_t>({1, 2}, {0, -1})}).code(), TF_INVALID_ARGUMENT);
  Node deep("GatherNd");
  EXPECT_EQ(testing::run_error(deep, {p, make<int32_t>({1, 3}, {0, 0, 0})}).code(), TF_INVALID_ARGUMENT);
  Node ignore("GatherNd");
  ignore.attr("bad_indices_policy", "IGNORE");
  EXPECT_EQ(values<int32_t>(ignore.run1({p, make<int32_t>({2, 2}, {5, 5, 1, 1})})), (std::vector<int32_t>{0, 4}));
}

TEST(ScatterTest, OutOfRangeRowsFailBeforeWriting) {
  Node node("ScatterNd");
  node.attr("T", TF_FLOAT);
  Status s = testing::run_error(node, {make<int32_t>({2, 1}, {0, 6}), make<float>({2}, {1, 2}), testing::ints({6})});
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("indices[1] = [6] does not index into shape [6]"), std::string::npos) << s.message();
  Node update("TensorScatterUpdate");
  update.attr("T", TF_INT32);
  const Tensor base = make<int32_t>({3}, {1, 2, 3});
  EXPECT_EQ(testing::run_error(update, {base, make<int64_t>({1, 1}, {-1}), make<int32_t>({1}, {9})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(values<int32_t>(base), (std::vector<int32_t>{1, 2, 3}));
  Node shape("TensorScatterUpdate");
  shape.attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(shape, {base, make<int32_t>({1, 1}, {0}), make<int32_t>({2}, {9, 9})}).code(),
            TF_INVALID_ARGUMENT);
  Node ignore("TensorScatterAdd");
  ignore.attr("T", TF_INT32).attr("bad_indices_policy", "IGNORE");
  EXPECT_EQ(values<int32_t>(ignore.run1({base, make<int32_t>({2, 1}, {7, 2}), make<int32_t>({2}, {10, 10})})),
            (std::vector<int32_t>{1, 2, 13}));
}

TEST(ScatterTest, SubMaxMinAndBoolUpdate) {
  const Tensor base = make<int32_t>({4}, {5, 5, 5, 5});
  const Tensor idx = make<int32_t>({3, 1}, {0, 2, 0});
  const Tensor upd = make<int32_t>({3}, {1, 9, 7});
  struct Case { const char* op; std::vector<int32_t> want; };
  const Case cases[] = {{"TensorScatterSub", {-3, 5, -4, 5}},
                        {"TensorScatterMax", {7, 5, 9, 5}},
                        {"TensorScatterMin", {1, 5, 5, 5}}};
  for (const Case& c : cases) {
    Node node(c.op);
    node.attr("T", TF_INT32);
    EXPECT_EQ(values<int32_t>(node.run1({base, idx, upd})), c.want) << c.op;
  }
  Node flags("TensorScatterUpdate");
  flags.attr("T", TF_BOOL);
  EXPECT_EQ(values<bool>(flags.run1({make<bool>({3}, {false, false, false}), make<int32_t>({1, 1}, {1}),
                                     make<bool>({1}, {true})})),
            (std::vector<bool>{false, true, false}));
}

TEST(SparseToDenseTest, ScalarValueVectorIndicesAndValidation) {
  Node node("SparseToDense");
  node.attr("T", TF_FLOAT);
  Tensor y = node.run1({make<int32_t>({2}, {1, 3}), testing::ints({5}), scalar(2.f), scalar(0.f)});
  EXPECT_EQ(values<float>(y), (std::vector<float>{0, 2, 0, 2, 0}));
  Node order("SparseToDense");
  order.attr("T", TF_FLOAT);
  Status s = testing::run_error(order, {make<int32_t>({2}, {3, 1}), testing::ints({5}), scalar(2.f), scalar(0.f)});
  EXPECT_EQ(s.code(), TF_INVALID_ARGUMENT);
  EXPECT_NE(s.message().find("out of order"), std::string::npos) << s.message();
  Node repeat("SparseToDense");
  repeat.attr("T", TF_FLOAT);
  EXPECT_NE(testing::run_error(repeat, {make<int32_t>({2}, {1, 1}), testing::ints({5}), scalar(2.f), scalar(0.f)})
                .message().find("repeated"), std::string::npos);
  Node lax("SparseToDense");
  lax.attr("T", TF_FLOAT).attr("validate_indices", false);
  EXPECT_EQ(values<float>(lax.run1({make<int32_t>({2}, {3, 1}), testing::ints({4}), make<float>({2}, {7, 8}), scalar(0.f)})),
            (std::vector<float>{0, 8, 0, 7}));
  Node bounds("SparseToDense");
  bounds.attr("T", TF_FLOAT).attr("validate_indices", false);
  EXPECT_NE(testing::run_error(bounds, {make<int32_t>({1}, {5}), testing::ints({5}), scalar(2.f), scalar(0.f)})
                .message().find("out of bounds"), std::string::npos);
  Node count("SparseToDense");
  count.attr("T", TF_FLOAT);
  EXPECT_EQ(testing::run_error(count, {make<int32_t>({2}, {0, 1}), testing::ints({5}), make<float>({3}, {1, 2, 3}), scalar(0.f)}).code(),
            TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
