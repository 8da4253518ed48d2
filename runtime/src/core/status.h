// Status: the error value every runtime function returns instead of throwing.
// Codes are TensorFlow's; the C API copies them into a TF_Status unchanged.
#pragma once

#include <string>
#include <utility>

#include "tensorflow/c/c_api.h"

namespace qtf {

class Status {
 public:
  Status() = default;
  Status(TF_Code code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status ok() { return Status(); }
  bool is_ok() const { return code_ == TF_OK; }
  TF_Code code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  TF_Code code_ = TF_OK;
  std::string message_;
};

inline Status invalid_argument(std::string m) { return Status(TF_INVALID_ARGUMENT, std::move(m)); }
inline Status not_found(std::string m) { return Status(TF_NOT_FOUND, std::move(m)); }
inline Status unimplemented(std::string m) { return Status(TF_UNIMPLEMENTED, std::move(m)); }
inline Status data_loss(std::string m) { return Status(TF_DATA_LOSS, std::move(m)); }
inline Status internal_error(std::string m) { return Status(TF_INTERNAL, std::move(m)); }
inline Status failed_precondition(std::string m) { return Status(TF_FAILED_PRECONDITION, std::move(m)); }

}  // namespace qtf

// Returns early from the enclosing function when `expr` yields an error.
#define QTF_RETURN_IF_ERROR(expr)              \
  do {                                         \
    ::qtf::Status qtf_status_ = (expr);        \
    if (!qtf_status_.is_ok()) return qtf_status_; \
  } while (0)
