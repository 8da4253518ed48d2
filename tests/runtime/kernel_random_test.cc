// Random ops: Philox4x32-10 against the Random123 known answers, every op
// against the values of data/kernels/make_references_random.py (a NumPy
// re-implementation of TensorFlow's seeding and conversions), stateful
// seeding, and the shape of the distributions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kernel_reference.h"
#include "kernels/philox.h"

namespace qtf {
namespace {

using testing::ints;
using testing::load_cases;
using testing::make;
using testing::Node;
using testing::ReferenceCase;
using testing::values;

TEST(PhiloxTest, KnownAnswers) {
  struct Case { Philox::Counter counter; Philox::Key key; Philox::Block want; };
  const Case cases[] = {
      {{0, 0, 0, 0}, {0, 0}, {0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}},
      {{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff}, {0xffffffff, 0xffffffff},
       {0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}},
      {{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}, {0xa4093822, 0x299f31d0},
       {0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}},
  };
  for (const Case& c : cases) EXPECT_EQ(Philox::encipher(c.counter, c.key), c.want);
}

TEST(PhiloxTest, SkipCarriesAcrossTheCounterWords) {
  Philox gen({1, 2}, {0xffffffff, 0xffffffff, 0xffffffff, 7});
  gen.skip(1);
  EXPECT_EQ(gen.counter(), (Philox::Counter{0, 0, 0, 8}));
  gen.skip((uint64_t{3} << 32) + 5);
  EXPECT_EQ(gen.counter(), (Philox::Counter{5, 3, 0, 8}));
}

TEST(PhiloxTest, MantissaConversions) {
  EXPECT_EQ(uint32_to_float(0), 0.f);
  EXPECT_EQ(uint32_to_float(0x00400000), 0.5f);
  EXPECT_LT(uint32_to_float(0xffffffff), 1.f);
  EXPECT_EQ(uint64_to_double(0, 0x00080000), 0.5);
  EXPECT_LT(uint64_to_double(0xffffffff, 0xffffffff), 1.0);
}

class RandomReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

// Stateful ops give the reference only on their first run.
TEST_P(RandomReferenceTest, MatchesReimplementation) {
  const ReferenceCase& c = GetParam();
  const bool stateless = c.op.rfind("Stateless", 0) == 0;
  testing::check_reference(c, 1e-6f, stateless ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RandomReferenceTest,
                         ::testing::ValuesIn(load_cases("cases_random.txt")), testing::case_name);

Node normal(int64_t seed, int64_t seed2) {
  Node node("RandomStandardNormal");
  node.attr("dtype", TF_FLOAT).attr("T", TF_INT32).attr("seed", seed).attr("seed2", seed2);
  return node;
}

TEST(RandomTest, SeedsDecideTheSequenceAndRunsContinueIt) {
  Node a = normal(3, 4), b = normal(3, 4), other = normal(3, 5);
  const std::vector<float> first = values<float>(a.run1({ints({16})}));
  EXPECT_EQ(values<float>(b.run1({ints({16})})), first);
  EXPECT_NE(values<float>(other.run1({ints({16})})), first);
  // The next run of the same node draws new values.
  EXPECT_NE(values<float>(a.run1({ints({16})})), first);
  // Seeds 0, 0 are fresh each time a kernel is made.
  Node fresh1 = normal(0, 0), fresh2 = normal(0, 0);
  EXPECT_NE(values<float>(fresh1.run1({ints({16})})), values<float>(fresh2.run1({ints({16})})));
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return s / static_cast<double>(v.size());
}

std::vector<double> as_doubles(const Tensor& t) {
  std::vector<double> v;
  for (int64_t i = 0; i < t.num_elements(); ++i) v.push_back(testing::element(t, i));
  return v;
}

TEST(RandomTest, DistributionsHaveTheirMomentsAndRanges) {
  const int n = 200000;
  Node norm = normal(11, 12);
  std::vector<double> z = as_doubles(norm.run1({ints({n})}));
  std::vector<double> z2;
  for (double x : z) z2.push_back(x * x);
  EXPECT_NEAR(mean(z), 0.0, 0.01);
  EXPECT_NEAR(mean(z2), 1.0, 0.02);

  Node uni("RandomUniform");
  uni.attr("dtype", TF_DOUBLE).attr("T", TF_INT32).attr("seed", 5);
  std::vector<double> u = as_doubles(uni.run1({ints({n})}));
  for (double x : u) ASSERT_TRUE(x >= 0 && x < 1) << x;
  EXPECT_NEAR(mean(u), 0.5, 0.005);

  Node trunc("TruncatedNormal");
  trunc.attr("dtype", TF_FLOAT).attr("T", TF_INT32).attr("seed2", 9);
  std::vector<double> t = as_doubles(trunc.run1({ints({n})}));
  std::vector<double> t2;
  for (double x : t) {
    ASSERT_LT(std::fabs(x), 2.0);
    t2.push_back(x * x);
  }
  // Variance of a standard normal truncated to (-2, 2).
  EXPECT_NEAR(mean(t2), 0.7737, 0.01);

  Node dice("RandomUniformInt");
  dice.attr("Tout", TF_INT32).attr("T", TF_INT32).attr("seed", 1);
  std::vector<double> d = as_doubles(dice.run1({ints({n}), testing::scalar<int32_t>(1),
                                                testing::scalar<int32_t>(7)}));
  for (double x : d) ASSERT_TRUE(x >= 1 && x < 7) << x;
  EXPECT_NEAR(mean(d), 3.5, 0.02);
}

TEST(RandomTest, Errors) {
  Node half("RandomStandardNormal");
  half.attr("dtype", TF_HALF).attr("T", TF_INT32);
  EXPECT_EQ(half.prepare().code(), TF_UNIMPLEMENTED);
  Node node = normal(1, 1);
  EXPECT_EQ(testing::run_error(node, {ints({2, -1})}).code(), TF_INVALID_ARGUMENT);
  Node dice("RandomUniformInt");
  dice.attr("Tout", TF_INT32).attr("T", TF_INT32);
  EXPECT_EQ(testing::run_error(dice, {ints({3}), testing::scalar<int32_t>(4),
                                      testing::scalar<int32_t>(4)})
                .code(),
            TF_INVALID_ARGUMENT);
  EXPECT_EQ(testing::run_error(dice, {ints({3}), testing::scalar<int64_t>(0),
                                      testing::scalar<int64_t>(4)})
                .code(),
            TF_INVALID_ARGUMENT);

  Node stateless("StatelessRandomNormal");
  stateless.attr("T", TF_INT32).attr("Tseed", TF_INT32);
  EXPECT_EQ(testing::run_error(stateless, {ints({3}), ints({1, 2, 3})}).code(),
            TF_INVALID_ARGUMENT);
  Node v2("StatelessRandomUniformV2");
  Tensor key = make<uint64_t>({1}, {5}), counter = make<uint64_t>({2}, {0, 0});
  EXPECT_EQ(testing::run_error(v2, {ints({3}), key, counter, testing::scalar<int32_t>(2)}).code(),
            TF_UNIMPLEMENTED);  // ThreeFry
  EXPECT_EQ(testing::run_error(v2, {ints({3}), key, make<uint64_t>({1}, {0}),
                                    testing::scalar<int32_t>(1)})
                .code(),
            TF_INVALID_ARGUMENT);
}

TEST(RandomTest, GetKeyCounterAlgAndGetAlgGivePhilox) {
  Node get("StatelessRandomGetKeyCounterAlg");
  get.attr("Tseed", TF_INT32);
  std::vector<Tensor> out;
  ASSERT_TRUE(get.run({ints({-9, 4})}, &out).is_ok());
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].data<int32_t>()[0], 1);
  // Same key and counter as StatelessRandomGetKeyCounter.
  Node plain("StatelessRandomGetKeyCounter");
  plain.attr("Tseed", TF_INT32);
  std::vector<Tensor> same;
  ASSERT_TRUE(plain.run({ints({-9, 4})}, &same).is_ok());
  EXPECT_EQ(values<uint64_t>(out[0]), values<uint64_t>(same[0]));
  EXPECT_EQ(values<uint64_t>(out[1]), values<uint64_t>(same[1]));
  EXPECT_EQ(values<uint64_t>(out[1])[0], 0u);
  Node alg("StatelessRandomGetAlg");
  EXPECT_EQ(values<int32_t>(alg.run1({})), (std::vector<int32_t>{1}));
}

}  // namespace
}  // namespace qtf
