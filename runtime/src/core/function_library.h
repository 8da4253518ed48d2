// Functions that kernels call: the branches of If and Case, the condition and
// body of While. A kernel instantiates what its func attrs name when it is
// made (so a model whose branch needs an unsupported op fails at load) and
// keeps the handle; each call reuses the handle's value slots, so a loop does
// not plan or allocate per iteration.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/status.h"
#include "core/tensor.h"
#include "graph.pb.h"

namespace qtf {

class FunctionHandle {
 public:
  virtual ~FunctionHandle() = default;
  virtual const std::string& name() const = 0;
  virtual const std::vector<DataType>& arg_types() const = 0;
  virtual const std::vector<DataType>& result_types() const = 0;
  // Runs the function on `*args`, which are consumed (left empty). On success
  // `*results` holds one tensor per result.
  virtual Status call(std::vector<Tensor>* args, std::vector<Tensor>* results) = 0;
};

class FunctionLibrary {
 public:
  virtual ~FunctionLibrary() = default;
  // A handle on the library function `func.name()` instantiated with `func.attr()`.
  virtual Status instantiate(const tensorflow::NameAttrList& func,
                             std::unique_ptr<FunctionHandle>* out) = 0;
};

// Kernel factories see only node attrs; the executor makes the session's
// function library visible here while it creates kernels.
class FunctionLibraryScope {
 public:
  explicit FunctionLibraryScope(FunctionLibrary* library);
  ~FunctionLibraryScope();
  FunctionLibraryScope(const FunctionLibraryScope&) = delete;
  FunctionLibraryScope& operator=(const FunctionLibraryScope&) = delete;
  // nullptr outside kernel creation.
  static FunctionLibrary* current();

 private:
  FunctionLibrary* previous_;
};

}  // namespace qtf
