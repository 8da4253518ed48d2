// Reference cases read by name (the files of kernel_reference.h) for tests
// that build their node by hand, and a comparison of a kernel's outputs with
// them: exact for integers and bool, within a relative tolerance for reals.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel_reference.h"
#include "kernel_testing.h"

namespace qtf {
namespace testing {

// The tensors of one case, for tests that build the node themselves.
struct ReferenceTensors {
  std::vector<Tensor> inputs;
  Tensor out;                 // the only or first output
  std::vector<Tensor> outs;   // every output
};

inline ReferenceTensors load_reference(const std::string& name) {
  ReferenceTensors c{reference_inputs(name), Tensor(), reference_outputs(name)};
  EXPECT_FALSE(c.outs.empty()) << name << ": no expected output";
  if (!c.outs.empty()) c.out = c.outs[0];
  return c;
}

template <typename T>
void expect_values(const Tensor& got, const Tensor& want, double tolerance, const std::string& what) {
  for (int64_t i = 0; i < want.num_elements(); ++i) {
    const T g = got.data<T>()[i], w = want.data<T>()[i];
    if constexpr (std::is_floating_point<T>::value) {
      if (std::isnan(w)) {
        EXPECT_TRUE(std::isnan(g)) << what << " at " << i;
      } else {
        EXPECT_NEAR(g, w, tolerance * std::max(1.0, std::fabs(static_cast<double>(w))))
            << what << " at " << i;
      }
    } else {
      EXPECT_EQ(g, w) << what << " at " << i;
    }
  }
}

// Same dtype, shape and values (reals within `tolerance`, relative above 1).
inline void expect_tensor(const Tensor& got, const Tensor& want, const std::string& what,
                          double tolerance = 1e-6) {
  ASSERT_EQ(got.dtype(), want.dtype()) << what;
  ASSERT_EQ(got.shape(), want.shape()) << what;
  switch (want.dtype()) {
    case TF_FLOAT: expect_values<float>(got, want, tolerance, what); break;
    case TF_DOUBLE: expect_values<double>(got, want, tolerance, what); break;
    case TF_INT32: expect_values<int32_t>(got, want, tolerance, what); break;
    case TF_INT64: expect_values<int64_t>(got, want, tolerance, what); break;
    case TF_BOOL: expect_values<bool>(got, want, tolerance, what); break;
    default: FAIL() << what << ": no comparison for " << dtype_name(want.dtype());
  }
}

// Runs `node` on the inputs of case `name` and compares every output.
inline void expect_reference(Node& node, const std::string& name, double tolerance = 1e-6) {
  ReferenceTensors ref = load_reference(name);
  std::vector<Tensor> out;
  Status s = node.run(ref.inputs, &out);
  ASSERT_TRUE(s.is_ok()) << name << ": " << s.message();
  ASSERT_EQ(out.size(), ref.outs.size()) << name;
  for (size_t k = 0; k < out.size(); ++k) {
    expect_tensor(out[k], ref.outs[k], name + " output " + std::to_string(k), tolerance);
  }
}

}  // namespace testing
}  // namespace qtf
