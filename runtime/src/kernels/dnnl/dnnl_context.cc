// Shared oneDNN engine and streams.
#include "kernels/dnnl/dnnl_context.h"

#include <atomic>

namespace qtf {
namespace {

std::atomic<int64_t>& counter() {
  static std::atomic<int64_t> created{0};
  return created;
}

}  // namespace

dnnl::engine& dnnl_engine() {
  static dnnl::engine engine(dnnl::engine::kind::cpu, 0);
  return engine;
}

dnnl::stream& dnnl_stream() {
  thread_local dnnl::stream stream(dnnl_engine());
  return stream;
}

int64_t dnnl_primitives_created() { return counter().load(); }
void count_dnnl_primitive() { counter().fetch_add(1); }

Status require_float_type(const NodeAttrs& attrs) {
  DataType t = TF_FLOAT;
  QTF_RETURN_IF_ERROR(attrs.get_type("T", &t));
  if (t != TF_FLOAT) {
    return unimplemented(attrs.where() + "type " + dtype_name(t) + " is not supported (float only)");
  }
  return Status::ok();
}

}  // namespace qtf
