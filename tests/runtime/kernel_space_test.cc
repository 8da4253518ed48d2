// Space rearrangement and patches: DepthToSpace, SpaceToDepth,
// SpaceToBatchND, BatchToSpaceND (and the 4-D SpaceToBatch/BatchToSpace),
// ExtractImagePatches, against hand-worked cases and the references of
// data/kernels/make_references_space.py.
#include <gtest/gtest.h>

#include <set>

#include "kernel_reference.h"

namespace qtf {
namespace {

using testing::ints;
using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

// Pure data movement: the values must be exact.
QTF_REFERENCE_SUITE(SpaceReferenceTest, MatchesReference, "cases_space.txt", 0.f);

TEST(SpaceReferenceFixturesTest, CoverEveryOp) {
  std::set<std::string> ops;
  for (const ReferenceCase& c : load_cases("cases_space.txt")) ops.insert(c.op);
  for (const char* op : {"DepthToSpace", "SpaceToDepth", "SpaceToBatchND", "BatchToSpaceND",
                         "ExtractImagePatches"}) {
    EXPECT_TRUE(ops.count(op)) << op;
  }
}

Tensor iota_float(Shape s) {
  Tensor t = Tensor::allocate(TF_FLOAT, std::move(s));
  for (int64_t i = 0; i < t.num_elements(); ++i) t.data<float>()[i] = static_cast<float>(i + 1);
  return t;
}

TEST(DepthToSpaceTest, DocumentedExamplesAndRoundTrip) {
  // [1,1,1,4] -> [1,2,2,1]: the four channels become a 2x2 block, row-major.
  Node d2s("DepthToSpace");
  d2s.attr("T", TF_FLOAT).attr("block_size", 2);
  Tensor y = d2s.run1({make<float>({1, 1, 1, 4}, {1, 2, 3, 4})});
  EXPECT_EQ(y.shape(), (Shape{1, 2, 2, 1}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{1, 2, 3, 4}));
  // [1,1,1,12] -> [1,2,2,3]: each block position takes three consecutive channels.
  Tensor y3 = d2s.run1({iota_float({1, 1, 1, 12})});
  EXPECT_EQ(y3.shape(), (Shape{1, 2, 2, 3}));
  EXPECT_EQ(values<float>(y3), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // [1,2,2,4] -> [1,4,4,1]
  Tensor y4 = d2s.run1({iota_float({1, 2, 2, 4})});
  EXPECT_EQ(values<float>(y4), (std::vector<float>{1, 2, 5, 6, 3, 4, 7, 8, 9, 10, 13, 14, 11, 12,
                                                   15, 16}));
  // SpaceToDepth undoes it, for any element type.
  Node s2d("SpaceToDepth");
  s2d.attr("T", TF_INT32).attr("block_size", 2);
  Tensor x = testing::int_iota({2, 4, 6, 3});
  Tensor packed = s2d.run1({x});
  EXPECT_EQ(packed.shape(), (Shape{2, 2, 3, 12}));
  Node back("DepthToSpace");
  back.attr("T", TF_INT32).attr("block_size", 2);
  EXPECT_EQ(values<int32_t>(back.run1({packed})), values<int32_t>(x));
}

TEST(DepthToSpaceTest, Errors) {
  Node d2s("DepthToSpace");
  d2s.attr("T", TF_FLOAT).attr("block_size", 2);
  EXPECT_EQ(testing::run_error(d2s, {iota_float({1, 1, 1, 6})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(d2s, {iota_float({1, 4})}).code(), TF_INVALID_ARGUMENT);
  Node s2d("SpaceToDepth");
  s2d.attr("T", TF_FLOAT).attr("block_size", 2);
  EXPECT_EQ(testing::run_error(s2d, {iota_float({1, 3, 4, 1})}).code(), TF_INVALID_ARGUMENT);
  Node nchw("DepthToSpace");
  nchw.attr("T", TF_FLOAT).attr("block_size", 2).attr("data_format", "NCHW");
  EXPECT_EQ(nchw.prepare().code(), TF_UNIMPLEMENTED);
  Node one("SpaceToDepth");
  one.attr("T", TF_FLOAT).attr("block_size", 1);
  EXPECT_EQ(one.prepare().code(), TF_INVALID_ARGUMENT);
}

TEST(SpaceToBatchTest, DocumentedExamples) {
  Node s2b("SpaceToBatchND");
  s2b.attr("T", TF_FLOAT);
  // [1,2,2,1], block [2,2] -> [4,1,1,1].
  Tensor y = s2b.run1({make<float>({1, 2, 2, 1}, {1, 2, 3, 4}), ints({2, 2}),
                       make<int32_t>({2, 2}, {0, 0, 0, 0})});
  EXPECT_EQ(y.shape(), (Shape{4, 1, 1, 1}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{1, 2, 3, 4}));
  // [2,2,4,1], block [2,2], paddings [[0,0],[2,0]] -> [8,1,3,1].
  Tensor x = iota_float({2, 2, 4, 1});
  Tensor p = s2b.run1({x, ints({2, 2}), make<int32_t>({2, 2}, {0, 0, 2, 0})});
  EXPECT_EQ(p.shape(), (Shape{8, 1, 3, 1}));
  EXPECT_EQ(values<float>(p), (std::vector<float>{0, 1, 3, 0, 9, 11, 0, 2, 4, 0, 10, 12,
                                                  0, 5, 7, 0, 13, 15, 0, 6, 8, 0, 14, 16}));
  // BatchToSpaceND with the same crops gives the input back.
  Node b2s("BatchToSpaceND");
  b2s.attr("T", TF_FLOAT);
  Tensor back = b2s.run1({p, ints({2, 2}), make<int32_t>({2, 2}, {0, 0, 2, 0})});
  EXPECT_EQ(back.shape(), x.shape());
  EXPECT_EQ(values<float>(back), values<float>(x));
}

TEST(SpaceToBatchTest, FourDimensionalFormsUseBlockSize) {
  Node s2b("SpaceToBatch");
  s2b.attr("T", TF_FLOAT).attr("block_size", 2);
  Tensor x = iota_float({1, 4, 4, 2});
  Tensor y = s2b.run1({x, make<int32_t>({2, 2}, {0, 0, 0, 0})});
  EXPECT_EQ(y.shape(), (Shape{4, 2, 2, 2}));
  // Batch 1 holds the pixels at even rows and odd columns: (0,1), (0,3), (2,1), (2,3).
  EXPECT_EQ(std::vector<float>(y.data<float>() + 8, y.data<float>() + 16),
            (std::vector<float>{3, 4, 7, 8, 19, 20, 23, 24}));
  Node b2s("BatchToSpace");
  b2s.attr("T", TF_FLOAT).attr("block_size", 2);
  EXPECT_EQ(values<float>(b2s.run1({y, make<int32_t>({2, 2}, {0, 0, 0, 0})})), values<float>(x));
}

TEST(SpaceToBatchTest, Errors) {
  Node s2b("SpaceToBatchND");
  s2b.attr("T", TF_FLOAT);
  Tensor x = iota_float({1, 3, 4, 1});
  const Tensor zero_pads = make<int32_t>({2, 2}, {0, 0, 0, 0});
  // 3 rows do not split into blocks of 2.
  EXPECT_EQ(testing::run_error(s2b, {x, ints({2, 2}), zero_pads}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(s2b, {x, ints({0, 2}), zero_pads}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(s2b, {x, ints({1, 2}), make<int32_t>({2, 2}, {0, -1, 0, 0})})
                .code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(s2b, {x, ints({1, 2}), make<int32_t>({1, 2}, {0, 0})}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(s2b, {x, ints({1, 1, 1, 1}),
                                     make<int32_t>({4, 2}, {0, 0, 0, 0, 0, 0, 0, 0})})
                .code(),
            TF_INVALID_ARGUMENT);
  Node b2s("BatchToSpaceND");
  b2s.attr("T", TF_FLOAT);
  // Batch 3 is not a multiple of the 4 blocks; crops larger than the size.
  EXPECT_EQ(testing::run_error(b2s, {iota_float({3, 1, 1, 1}), ints({2, 2}), zero_pads}).code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(b2s, {iota_float({4, 1, 1, 1}), ints({2, 2}),
                                     make<int32_t>({2, 2}, {2, 1, 0, 0})})
                .code(),
            TF_INVALID_ARGUMENT);
}

// Large enough to split the permutation across threads; each element is
// checked against the index formula.
TEST(TransposeTest, LargePermutationMatchesIndexFormula) {
  const Shape in{3, 70, 50, 7};
  Tensor x = testing::int_iota(in);
  Node node("Transpose");
  node.attr("T", TF_INT32);
  Tensor y = node.run1({x, ints({2, 0, 3, 1})});
  ASSERT_EQ(y.shape(), (Shape{50, 3, 7, 70}));
  int64_t bad = 0, i = 0;
  for (int64_t c = 0; c < 50; ++c)
    for (int64_t a = 0; a < 3; ++a)
      for (int64_t d = 0; d < 7; ++d)
        for (int64_t b = 0; b < 70; ++b, ++i) {
          bad += y.data<int32_t>()[i] != ((a * 70 + b) * 50 + c) * 7 + d;
        }
  EXPECT_EQ(bad, 0);
}

Node patches(std::initializer_list<int64_t> k, std::initializer_list<int64_t> s,
             std::initializer_list<int64_t> r, const char* padding) {
  Node node("ExtractImagePatches");
  node.attr("T", TF_FLOAT).attr("ksizes", k).attr("strides", s).attr("rates", r);
  node.attr("padding", padding);
  return node;
}

TEST(ExtractImagePatchesTest, HandWorked) {
  // 3x3 image 1..9, 2x2 patches.
  Tensor x = iota_float({1, 3, 3, 1});
  Node valid = patches({1, 2, 2, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, "VALID");
  Tensor y = valid.run1({x});
  EXPECT_EQ(y.shape(), (Shape{1, 2, 2, 4}));
  EXPECT_EQ(values<float>(y), (std::vector<float>{1, 2, 4, 5, 2, 3, 5, 6, 4, 5, 7, 8, 5, 6, 8, 9}));
  // SAME with stride 2: the padding (one row and column) goes after the
  // image, and reads as zero.
  Node same = patches({1, 2, 2, 1}, {1, 2, 2, 1}, {1, 1, 1, 1}, "SAME");
  Tensor s = same.run1({x});
  EXPECT_EQ(s.shape(), (Shape{1, 2, 2, 4}));
  EXPECT_EQ(values<float>(s), (std::vector<float>{1, 2, 4, 5, 3, 0, 6, 0, 7, 8, 0, 0, 9, 0, 0, 0}));
  // Rate 2 samples every other pixel: one 2x2 patch made of the corners.
  Node rate = patches({1, 2, 2, 1}, {1, 1, 1, 1}, {1, 2, 2, 1}, "VALID");
  EXPECT_EQ(values<float>(rate.run1({x})), (std::vector<float>{1, 3, 7, 9}));
  // Channels stay together inside each patch position.
  Tensor two = make<float>({1, 1, 2, 2}, {1, -1, 2, -2});
  Node row = patches({1, 1, 2, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, "VALID");
  EXPECT_EQ(values<float>(row.run1({two})), (std::vector<float>{1, -1, 2, -2}));
}

TEST(ExtractImagePatchesTest, Errors) {
  Node bad = patches({2, 2, 2, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, "VALID");
  EXPECT_EQ(bad.prepare().code(), TF_INVALID_ARGUMENT);
  Node explicit_pad = patches({1, 2, 2, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, "EXPLICIT");
  EXPECT_EQ(explicit_pad.prepare().code(), TF_INVALID_ARGUMENT);
  Node node = patches({1, 4, 4, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, "VALID");
  EXPECT_EQ(testing::run_error(node, {iota_float({1, 3, 3, 1})}).code(), TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(node, {iota_float({3, 3})}).code(), TF_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace qtf
