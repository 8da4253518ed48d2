// Resource variables: the state behind VarHandleOp handles, shared by every
// function that receives the handle, and the per-session table that owns them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "core/tensor.h"

namespace qtf {

struct Variable {
  std::string name;   // "container/shared_name", for messages
  DataType dtype = static_cast<DataType>(0);
  Tensor value;       // invalid until the first assignment
  bool initialized() const { return value.valid(); }
};

class ResourceManager {
 public:
  // The variable for (container, shared_name), created on first request.
  std::shared_ptr<Variable> variable(const std::string& container, const std::string& shared_name,
                                     DataType dtype);
  size_t size() const { return variables_.size(); }

 private:
  std::map<std::pair<std::string, std::string>, std::shared_ptr<Variable>> variables_;
};

// Kernels are made through a factory that sees only node attributes; kernels
// that need session state (VarHandleOp) find the session's resources here
// while the executor creates them.
class ResourceScope {
 public:
  explicit ResourceScope(ResourceManager* resources);
  ~ResourceScope();
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
  // nullptr outside kernel creation.
  static ResourceManager* current();

 private:
  ResourceManager* previous_;
};

}  // namespace qtf
