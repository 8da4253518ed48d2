// Reference cases for kernel tests: a cases file of lines
// "<name> <op> attr=value ..." next to <name>.in<k>.npy inputs and a
// <name>.out.npy expected output, all written by the make_references*.py
// scripts in data/kernels/.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kernel_npy.h"
#include "kernel_testing.h"

namespace qtf {
namespace testing {

inline const std::string& reference_dir() {
  static const std::string dir = std::string(QUARROW_TEST_DATA_DIR) + "/kernels/";
  return dir;
}

struct ReferenceCase {
  std::string name, op;
  std::vector<std::pair<std::string, std::string>> attrs;
};

// The cases of `file` (a name inside reference_dir()).
inline std::vector<ReferenceCase> load_cases(const std::string& file) {
  std::vector<ReferenceCase> cases;
  std::ifstream in(reference_dir() + file);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    ReferenceCase c;
    if (!(words >> c.name >> c.op)) continue;
    std::string kv;
    while (words >> kv) {
      const size_t eq = kv.find('=');
      c.attrs.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    }
    cases.push_back(c);
  }
  return cases;
}

// true/false, a dtype name, an int list in brackets, an int, a float (with a
// '.'), else a string.
inline tensorflow::AttrValue parse_attr(const std::string& v) {
  tensorflow::AttrValue a;
  if (v == "true" || v == "false") {
    a.set_b(v == "true");
  } else if (v == "float") {
    a.set_type(tensorflow::DT_FLOAT);
  } else if (v == "double") {
    a.set_type(tensorflow::DT_DOUBLE);
  } else if (v == "int32") {
    a.set_type(tensorflow::DT_INT32);
  } else if (v == "int64") {
    a.set_type(tensorflow::DT_INT64);
  } else if (v == "uint8") {
    a.set_type(tensorflow::DT_UINT8);
  } else if (!v.empty() && v.front() == '[') {
    a.mutable_list();
    std::istringstream items(v.substr(1, v.size() - 2));
    std::string item;
    while (std::getline(items, item, ',')) a.mutable_list()->add_i(std::stoll(item));
  } else if (!v.empty() && v.find_first_not_of("-0123456789") == std::string::npos) {
    a.set_i(std::stoll(v));
  } else if (!v.empty() && v.find_first_not_of("-0123456789.e") == std::string::npos &&
             v.find('.') != std::string::npos) {
    a.set_f(std::stof(v));
  } else {
    a.set_s(v);
  }
  return a;
}

inline Node make_node(const ReferenceCase& c) {
  Node node(c.op);
  for (const auto& [k, v] : c.attrs) node.attr(k, parse_attr(v));
  return node;
}

// One .npy file of the references; a failed read fails the test.
inline Tensor read_reference_npy(const std::string& path) {
  std::string error;
  Tensor t = read_npy(path, &error);
  EXPECT_TRUE(t.valid()) << path << ": " << error;
  return t;
}

// The inputs of case `name`: <name>.in0.npy, <name>.in1.npy, ... in op order.
inline std::vector<Tensor> reference_inputs(const std::string& name) {
  std::vector<Tensor> inputs;
  for (int k = 0;; ++k) {
    const std::string path = reference_dir() + name + ".in" + std::to_string(k) + ".npy";
    if (!std::ifstream(path)) break;
    inputs.push_back(read_reference_npy(path));
  }
  return inputs;
}

// The expected outputs of case `name`: the first is <name>.out.npy (or
// <name>.out0.npy), output k > 0 is <name>.out<k>.npy.
inline std::vector<Tensor> reference_outputs(const std::string& name) {
  std::vector<Tensor> outputs;
  for (int k = 0;; ++k) {
    std::string path = reference_dir() + name + ".out" + std::to_string(k) + ".npy";
    if (k == 0 && std::ifstream(reference_dir() + name + ".out.npy")) {
      path = reference_dir() + name + ".out.npy";
    }
    if (!std::ifstream(path)) break;
    outputs.push_back(read_reference_npy(path));
  }
  return outputs;
}

inline std::vector<Tensor> load_inputs(const ReferenceCase& c) { return reference_inputs(c.name); }

// Element i as a double (64-bit integers compare exactly only below 2^53,
// which the references keep to).
inline double element(const Tensor& t, int64_t i) {
  switch (t.dtype()) {
    case TF_FLOAT: return t.data<float>()[i];
    case TF_DOUBLE: return t.data<double>()[i];
    case TF_INT32: return t.data<int32_t>()[i];
    case TF_INT64: return static_cast<double>(t.data<int64_t>()[i]);
    case TF_UINT64: return static_cast<double>(t.data<uint64_t>()[i]);
    default: ADD_FAILURE() << "unexpected dtype " << dtype_name(t.dtype()); return 0;
  }
}

inline void expect_close(const Tensor& got, const Tensor& want, float tolerance) {
  ASSERT_EQ(got.shape(), want.shape());
  ASSERT_EQ(got.dtype(), want.dtype());
  const int64_t n = got.num_elements();
  size_t bad = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double g = element(got, i), w = element(want, i);
    const bool exact_bits = got.dtype() == TF_UINT64 || got.dtype() == TF_INT64;
    if (exact_bits ? std::memcmp(static_cast<const char*>(got.raw()) + 8 * i,
                                 static_cast<const char*>(want.raw()) + 8 * i, 8) != 0
                   : !(std::fabs(g - w) <= tolerance)) {
      if (++bad <= 5) ADD_FAILURE() << "element " << i << ": " << g << " vs " << w;
    }
  }
  EXPECT_EQ(bad, 0u);
}

// Runs a case (the second time, unless `runs` is 1, with whatever the
// kernel cached) and compares every output that has an expected value.
inline void check_reference(const ReferenceCase& c, float tolerance, int runs = 2) {
  const std::vector<Tensor> want = reference_outputs(c.name);
  ASSERT_FALSE(want.empty()) << "no expected output for " << c.name;
  const std::vector<Tensor> inputs = load_inputs(c);
  Node node = make_node(c);
  for (int run = 0; run < runs; ++run) {
    std::vector<Tensor> got;
    Status s = node.run(inputs, &got);
    ASSERT_TRUE(s.is_ok()) << s.message();
    ASSERT_GE(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) expect_close(got[k], want[k], tolerance);
  }
}

inline std::string case_name(const ::testing::TestParamInfo<ReferenceCase>& param) {
  return param.param.name;
}

// One parameterised suite over a cases file, every case checked within
// `tolerance`:  QTF_REFERENCE_SUITE(EinsumReferenceTest, MatchesNumpy, "cases_einsum.txt", 2e-5f);
#define QTF_REFERENCE_SUITE(Suite, Name, cases_file, tolerance)                              \
  class Suite : public ::testing::TestWithParam<::qtf::testing::ReferenceCase> {};          \
  TEST_P(Suite, Name) { ::qtf::testing::check_reference(GetParam(), tolerance); }           \
  INSTANTIATE_TEST_SUITE_P(Fixtures, Suite,                                                 \
                           ::testing::ValuesIn(::qtf::testing::load_cases(cases_file)),      \
                           ::qtf::testing::case_name)

}  // namespace testing
}  // namespace qtf
