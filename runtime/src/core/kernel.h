// OpKernel: the unit of computation for one graph node.
//
// A kernel is made once per node when a graph or function is instantiated
// ("prepare": read and check attributes, reject what it cannot do) and then
// computes on every run ("eval": only inputs to outputs). Kernels may cache
// per-shape state such as oneDNN primitives between runs. Adding an op is
// one file with a kernel class and one QTF_REGISTER_KERNEL line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "graph.pb.h"

namespace qtf {

// A node's attributes after stripped defaults have been filled in.
class NodeAttrs {
 public:
  NodeAttrs(const std::string& node_name, const std::string& op,
            const google::protobuf::Map<std::string, tensorflow::AttrValue>& attrs)
      : node_name_(node_name), op_(op), attrs_(attrs) {}

  const std::string& node_name() const { return node_name_; }
  const std::string& op() const { return op_; }
  const tensorflow::AttrValue* find(const std::string& name) const;

  // Each getter fails with INVALID_ARGUMENT naming the node when the attr is
  // missing or of another kind.
  Status get_int(const std::string& name, int64_t* out) const;
  Status get_float(const std::string& name, float* out) const;
  Status get_bool(const std::string& name, bool* out) const;
  Status get_string(const std::string& name, std::string* out) const;
  Status get_type(const std::string& name, DataType* out) const;
  Status get_int_list(const std::string& name, std::vector<int64_t>* out) const;
  Status get_type_list(const std::string& name, std::vector<DataType>* out) const;
  // Function-valued attrs (`func`, `list(func)`), as the control-flow ops name
  // their branches and bodies.
  Status get_func(const std::string& name, const tensorflow::NameAttrList** out) const;
  Status get_func_list(const std::string& name,
                       std::vector<const tensorflow::NameAttrList*>* out) const;
  // Same, with a value used when the attr is absent.
  int64_t int_or(const std::string& name, int64_t fallback) const;
  float float_or(const std::string& name, float fallback) const;
  bool bool_or(const std::string& name, bool fallback) const;
  std::string string_or(const std::string& name, const std::string& fallback) const;

  // "Conv2D node 'model/conv/Conv2D': " prefix for messages.
  std::string where() const;

 private:
  std::string node_name_;
  std::string op_;
  const google::protobuf::Map<std::string, tensorflow::AttrValue>& attrs_;
};

class OpKernelContext {
 public:
  OpKernelContext(const std::vector<Tensor>& inputs, std::vector<Tensor>* outputs)
      : inputs_(inputs), outputs_(outputs) {}
  // Inputs the kernel may take over (`take_input`), as the executor gives them.
  OpKernelContext(std::vector<Tensor>* inputs, std::vector<Tensor>* outputs)
      : inputs_(*inputs), movable_inputs_(inputs), outputs_(outputs) {}

  int num_inputs() const { return static_cast<int>(inputs_.size()); }
  const Tensor& input(int i) const { return inputs_[static_cast<size_t>(i)]; }
  // Input i handed over, so a callee (a loop body) can own it alone; input(i)
  // is invalid afterwards. A copy when the inputs are not the kernel's to take.
  Tensor take_input(int i);
  int num_outputs() const { return static_cast<int>(outputs_->size()); }
  void set_output(int i, Tensor t) { (*outputs_)[static_cast<size_t>(i)] = std::move(t); }
  // New tensor stored as output i and returned for filling.
  Tensor& allocate_output(int i, DataType dtype, Shape shape);

 private:
  const std::vector<Tensor>& inputs_;
  std::vector<Tensor>* movable_inputs_ = nullptr;
  std::vector<Tensor>* outputs_;
};

class OpKernel {
 public:
  virtual ~OpKernel() = default;
  virtual Status compute(OpKernelContext& ctx) = 0;
};

// Makes the kernel of one node; returns an error (usually UNIMPLEMENTED or
// INVALID_ARGUMENT naming the node) when the node's attributes are unsupported.
using KernelFactory = Status (*)(const NodeAttrs& attrs, std::unique_ptr<OpKernel>* out);

class KernelRegistry {
 public:
  static KernelRegistry& global();
  void add(const std::string& op, KernelFactory factory);
  KernelFactory find(const std::string& op) const;
  std::vector<std::string> ops() const;
};

struct KernelRegistrar {
  KernelRegistrar(const char* op, KernelFactory factory) {
    KernelRegistry::global().add(op, factory);
  }
};

// Factory for a kernel class whose constructor is (const NodeAttrs&, Status*).
template <typename K>
Status make_kernel(const NodeAttrs& attrs, std::unique_ptr<OpKernel>* out) {
  Status status;
  auto kernel = std::make_unique<K>(attrs, &status);
  if (status.is_ok()) *out = std::move(kernel);
  return status;
}

// OpDefs of the ops the runtime knows, registered in text form next to their
// kernels. The loader uses them to fill stripped default attributes and to
// resolve "node:out_arg:i" references; the SavedModel writer uses them for the
// stripped op list it stores.
class OpDefRegistry {
 public:
  static OpDefRegistry& global();
  // Parses a text-format tensorflow.OpDef; aborts at start-up on a typo.
  void add_text(const char* op_def_text);
  const tensorflow::OpDef* find(const std::string& op) const;
  // Names of all registered op definitions, sorted.
  std::vector<std::string> ops() const;
};

struct OpDefRegistrar {
  explicit OpDefRegistrar(const char* text) { OpDefRegistry::global().add_text(text); }
};

}  // namespace qtf

#define QTF_CONCAT_INNER(a, b) a##b
#define QTF_CONCAT(a, b) QTF_CONCAT_INNER(a, b)
#define QTF_REGISTER_KERNEL(op, KernelClass)                         \
  static ::qtf::KernelRegistrar QTF_CONCAT(qtf_registrar_, __LINE__)( \
      op, &::qtf::make_kernel<KernelClass>)
#define QTF_REGISTER_OP_DEF(text) \
  static ::qtf::OpDefRegistrar QTF_CONCAT(qtf_op_def_, __LINE__)(text)
