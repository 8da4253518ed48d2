// Resource variable ops. VarHandleOp binds its node to the session's variable
// (container, shared_name) when the kernel is made; the other ops act on the
// variable a handle carries, so a handle passed into any function reaches the
// same state.
#include <cstring>

#include "core/kernel.h"
#include "core/variable.h"

namespace qtf {
namespace {

// A copy that owns its storage, for values that must outlive a run (a fed
// tensor's buffer belongs to the caller and may be freed right after it).
Tensor owned_copy(const Tensor& t) {
  if (t.is_sole_owner()) return t;
  if (t.dtype() == TF_STRING) return Tensor::strings(t.shape(), t.string_values());
  Tensor copy = Tensor::allocate(t.dtype(), t.shape());
  if (copy.byte_size() > 0) std::memcpy(copy.raw(), t.raw(), copy.byte_size());
  return copy;
}

Status handle_variable(const std::string& where, const Tensor& handle, Variable** out) {
  if (handle.dtype() != TF_RESOURCE || !handle.variable()) {
    return invalid_argument(where + "input 0 is not a resource handle");
  }
  *out = handle.variable().get();
  return Status::ok();
}

class VarHandleOpKernel : public OpKernel {
 public:
  VarHandleOpKernel(const NodeAttrs& attrs, Status* status) {
    ResourceManager* resources = ResourceScope::current();
    if (resources == nullptr) {
      *status = failed_precondition(attrs.where() + "made outside a session");
      return;
    }
    DataType dtype = TF_FLOAT;
    *status = attrs.get_type("dtype", &dtype);
    if (!status->is_ok()) return;
    std::string shared_name = attrs.string_or("shared_name", "");
    if (shared_name.empty()) shared_name = attrs.node_name();
    auto variable = resources->variable(attrs.string_or("container", ""), shared_name, dtype);
    if (variable->dtype != dtype) {
      *status = invalid_argument(attrs.where() + "variable '" + variable->name + "' holds " +
                                 dtype_name(variable->dtype) + ", handle declares " + dtype_name(dtype));
      return;
    }
    handle_ = Tensor::resource(std::move(variable));
  }

  Status compute(OpKernelContext& ctx) override {
    ctx.set_output(0, handle_);
    return Status::ok();
  }

 private:
  Tensor handle_;
};

class ReadVariableOpKernel : public OpKernel {
 public:
  ReadVariableOpKernel(const NodeAttrs& attrs, Status* status) : where_(attrs.where()) {
    *status = attrs.get_type("dtype", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    Variable* variable = nullptr;
    QTF_RETURN_IF_ERROR(handle_variable(where_, ctx.input(0), &variable));
    if (!variable->initialized()) {
      return failed_precondition(where_ + "variable '" + variable->name +
                                 "' is read before it was initialized");
    }
    if (variable->value.dtype() != dtype_) {
      return invalid_argument(where_ + "variable '" + variable->name + "' holds " +
                              dtype_name(variable->value.dtype()) + ", read as " + dtype_name(dtype_));
    }
    ctx.set_output(0, variable->value);
    return Status::ok();
  }

 private:
  std::string where_;  // message prefix naming the node
  DataType dtype_ = TF_FLOAT;
};

class AssignVariableOpKernel : public OpKernel {
 public:
  AssignVariableOpKernel(const NodeAttrs& attrs, Status* status)
      : where_(attrs.where()), validate_shape_(attrs.bool_or("validate_shape", false)) {
    *status = attrs.get_type("dtype", &dtype_);
  }

  Status compute(OpKernelContext& ctx) override {
    Variable* variable = nullptr;
    QTF_RETURN_IF_ERROR(handle_variable(where_, ctx.input(0), &variable));
    const Tensor& value = ctx.input(1);
    if (value.dtype() != dtype_ || value.dtype() != variable->dtype) {
      return invalid_argument(where_ + "cannot assign " + dtype_name(value.dtype()) +
                              " to variable '" + variable->name + "' of type " +
                              dtype_name(variable->dtype));
    }
    if (validate_shape_ && variable->initialized() && variable->value.shape() != value.shape()) {
      return invalid_argument(where_ + "cannot assign shape " + shape_string(value.shape()) +
                              " to variable '" + variable->name + "' of shape " +
                              shape_string(variable->value.shape()));
    }
    variable->value = owned_copy(value);
    return Status::ok();
  }

 private:
  std::string where_;  // message prefix naming the node
  DataType dtype_ = TF_FLOAT;
  bool validate_shape_;
};

class VarIsInitializedOpKernel : public OpKernel {
 public:
  VarIsInitializedOpKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    Variable* variable = nullptr;
    QTF_RETURN_IF_ERROR(handle_variable(where_, ctx.input(0), &variable));
    Tensor& out = ctx.allocate_output(0, TF_BOOL, {});
    *out.data<bool>() = variable->initialized();
    return Status::ok();
  }

 private:
  std::string where_;  // message prefix naming the node
};

// Copy-on-read only matters for concurrent sparse updates; reads here never copy.
class DisableCopyOnReadKernel : public OpKernel {
 public:
  DisableCopyOnReadKernel(const NodeAttrs& attrs, Status*) : where_(attrs.where()) {}

  Status compute(OpKernelContext& ctx) override {
    Variable* variable = nullptr;
    return handle_variable(where_, ctx.input(0), &variable);
  }

 private:
  std::string where_;  // message prefix naming the node
};

}  // namespace

QTF_REGISTER_KERNEL("VarHandleOp", VarHandleOpKernel);
QTF_REGISTER_KERNEL("ReadVariableOp", ReadVariableOpKernel);
QTF_REGISTER_KERNEL("AssignVariableOp", AssignVariableOpKernel);
QTF_REGISTER_KERNEL("VarIsInitializedOp", VarIsInitializedOpKernel);
QTF_REGISTER_KERNEL("DisableCopyOnRead", DisableCopyOnReadKernel);

QTF_REGISTER_OP_DEF(R"pb(
  name: "VarHandleOp"
  output_arg { name: "resource" type: DT_RESOURCE }
  attr { name: "container" type: "string" default_value { s: "" } }
  attr { name: "shared_name" type: "string" default_value { s: "" } }
  attr { name: "dtype" type: "type" }
  attr { name: "shape" type: "shape" }
  attr { name: "allowed_devices" type: "list(string)" default_value { list {} } }
  is_stateful: true)pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "ReadVariableOp"
  input_arg { name: "resource" type: DT_RESOURCE }
  output_arg { name: "value" type_attr: "dtype" }
  attr { name: "dtype" type: "type" }
  is_stateful: true)pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "AssignVariableOp"
  input_arg { name: "resource" type: DT_RESOURCE }
  input_arg { name: "value" type_attr: "dtype" }
  attr { name: "dtype" type: "type" }
  attr { name: "validate_shape" type: "bool" default_value { b: false } }
  is_stateful: true)pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "VarIsInitializedOp"
  input_arg { name: "resource" type: DT_RESOURCE }
  output_arg { name: "is_initialized" type: DT_BOOL }
  is_stateful: true)pb");

QTF_REGISTER_OP_DEF(R"pb(
  name: "DisableCopyOnRead"
  input_arg { name: "resource" type: DT_RESOURCE }
  is_stateful: true)pb");

}  // namespace qtf
