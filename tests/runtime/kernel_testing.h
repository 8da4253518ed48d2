// Helpers for kernel tests: build tensors, make a node the way the loader
// does (attrs set by the test, the rest filled from the registered OpDef's
// defaults) and run its kernel.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "kernels/dtype_dispatch.h"

namespace qtf {
namespace testing {

template <typename T>
Tensor make(Shape shape, std::vector<T> values) {
  Tensor t = Tensor::allocate(dtype_of<T>(), std::move(shape));
  EXPECT_EQ(static_cast<int64_t>(values.size()), t.num_elements());
  for (size_t i = 0; i < values.size() && static_cast<int64_t>(i) < t.num_elements(); ++i) {
    t.data<T>()[i] = values[i];
  }
  return t;
}

// `n` values cycling through `period` levels in a scrambled order, centred on
// zero and scaled by `scale`: inputs without structure a kernel could exploit.
inline std::vector<float> pattern(size_t n, int period, float scale) {
  std::vector<float> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = scale * static_cast<float>(static_cast<int>((i * 7919) % period) - period / 2);
  return v;
}

template <typename T>
Tensor scalar(T v) {
  return make<T>({}, {v});
}

template <typename T>
std::vector<T> values(const Tensor& t) {
  EXPECT_EQ(t.dtype(), dtype_of<T>());
  if (t.dtype() != dtype_of<T>()) return {};
  return std::vector<T>(t.data<T>(), t.data<T>() + t.num_elements());
}

// 0, 1, 2, ... as int32 in the given shape.
inline Tensor int_iota(Shape s) {
  Tensor t = Tensor::allocate(TF_INT32, std::move(s));
  for (int64_t i = 0; i < t.num_elements(); ++i) t.data<int32_t>()[i] = static_cast<int32_t>(i);
  return t;
}

// A 1-D int32 tensor, the usual form of shape, axis and permutation inputs.
inline Tensor ints(std::vector<int32_t> v) {
  const int64_t n = static_cast<int64_t>(v.size());
  return make<int32_t>({n}, std::move(v));
}

inline tensorflow::AttrValue int_list(std::initializer_list<int64_t> v) {
  tensorflow::AttrValue a;
  a.mutable_list();
  for (int64_t i : v) a.mutable_list()->add_i(i);
  return a;
}

// One graph node of `op`, with its kernel made on first run.
class Node {
 public:
  explicit Node(std::string op) : op_(std::move(op)) {}

  Node& attr(const std::string& name, DataType t) { attrs_[name].set_type(static_cast<tensorflow::DataType>(t)); return *this; }
  Node& attr(const std::string& name, int64_t v) { attrs_[name].set_i(v); return *this; }
  Node& attr(const std::string& name, int v) { attrs_[name].set_i(v); return *this; }
  Node& attr(const std::string& name, float v) { attrs_[name].set_f(v); return *this; }
  Node& attr(const std::string& name, bool v) { attrs_[name].set_b(v); return *this; }
  Node& attr(const std::string& name, const char* v) { attrs_[name].set_s(v); return *this; }
  Node& attr(const std::string& name, std::initializer_list<int64_t> v) {
    attrs_[name] = int_list(v);
    return *this;
  }
  Node& attr(const std::string& name, const tensorflow::AttrValue& v) { attrs_[name] = v; return *this; }

  // Fills defaults and makes the kernel.
  Status prepare() {
    const tensorflow::OpDef* def = OpDefRegistry::global().find(op_);
    if (def == nullptr) return not_found("no OpDef for " + op_);
    for (const auto& a : def->attr()) {
      if (a.has_default_value() && attrs_.find(a.name()) == attrs_.end()) {
        attrs_[a.name()] = a.default_value();
      }
    }
    num_outputs_ = 0;
    for (const auto& arg : def->output_arg()) {
      if (!arg.number_attr().empty()) {
        num_outputs_ += static_cast<int>(attrs_[arg.number_attr()].i());
      } else if (!arg.type_list_attr().empty()) {
        num_outputs_ += attrs_[arg.type_list_attr()].list().type_size();
      } else {
        num_outputs_ += 1;
      }
    }
    KernelFactory factory = KernelRegistry::global().find(op_);
    if (factory == nullptr) return not_found("no kernel for " + op_);
    node_attrs_ = std::make_unique<NodeAttrs>("test/" + op_, op_, attrs_);
    return factory(*node_attrs_, &kernel_);
  }

  Status run(std::vector<Tensor> inputs, std::vector<Tensor>* outputs) {
    if (!kernel_) QTF_RETURN_IF_ERROR(prepare());
    outputs->assign(static_cast<size_t>(num_outputs_), Tensor());
    OpKernelContext ctx(inputs, outputs);
    return kernel_->compute(ctx);
  }

  // Runs and returns output 0, failing the test on error.
  Tensor run1(std::vector<Tensor> inputs) {
    std::vector<Tensor> out;
    Status s = run(std::move(inputs), &out);
    EXPECT_TRUE(s.is_ok()) << s.message();
    return out.empty() ? Tensor() : out[0];
  }

 private:
  std::string op_;
  google::protobuf::Map<std::string, tensorflow::AttrValue> attrs_;
  std::unique_ptr<NodeAttrs> node_attrs_;
  std::unique_ptr<OpKernel> kernel_;
  int num_outputs_ = 1;
};

// Runs `node` for its status only, for the error cases.
inline Status run_error(Node& node, std::vector<Tensor> inputs) {
  std::vector<Tensor> out;
  return node.run(std::move(inputs), &out);
}

}  // namespace testing
}  // namespace qtf
