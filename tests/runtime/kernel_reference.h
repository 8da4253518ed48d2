// Reference cases for kernel tests: a cases file of lines
// "<name> <op> attr=value ..." next to <name>.in<k>.npy inputs and a
// <name>.out.npy expected output, all written by the make_references*.py
// scripts in data/kernels/.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
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
  } else if (v == "int32") {
    a.set_type(tensorflow::DT_INT32);
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

inline std::vector<Tensor> load_inputs(const ReferenceCase& c) {
  std::vector<Tensor> inputs;
  for (int k = 0;; ++k) {
    const std::string path = reference_dir() + c.name + ".in" + std::to_string(k) + ".npy";
    if (!std::ifstream(path)) break;
    std::string error;
    inputs.push_back(read_npy(path, &error));
    EXPECT_TRUE(inputs.back().valid()) << error;
  }
  return inputs;
}

inline void expect_close(const Tensor& got, const Tensor& want, float tolerance) {
  ASSERT_EQ(got.shape(), want.shape());
  ASSERT_EQ(got.dtype(), want.dtype());
  const int64_t n = got.num_elements();
  size_t bad = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double g = got.dtype() == TF_FLOAT ? got.data<float>()[i] : got.data<int32_t>()[i];
    const double w = want.dtype() == TF_FLOAT ? want.data<float>()[i] : want.data<int32_t>()[i];
    if (!(std::fabs(g - w) <= tolerance)) {
      if (++bad <= 5) ADD_FAILURE() << "element " << i << ": " << g << " vs " << w;
    }
  }
  EXPECT_EQ(bad, 0u);
}

// Runs a case twice (the second run reuses whatever the kernel cached) and
// compares both results with the expected output.
inline void check_reference(const ReferenceCase& c, float tolerance) {
  std::string error;
  Tensor want = read_npy(reference_dir() + c.name + ".out.npy", &error);
  ASSERT_TRUE(want.valid()) << error;
  std::vector<Tensor> inputs = load_inputs(c);
  ASSERT_FALSE(inputs.empty());
  Node node = make_node(c);
  expect_close(node.run1(inputs), want, tolerance);
  expect_close(node.run1(inputs), want, tolerance);
}

inline std::string case_name(const ::testing::TestParamInfo<ReferenceCase>& param) {
  return param.param.name;
}

}  // namespace testing
}  // namespace qtf
