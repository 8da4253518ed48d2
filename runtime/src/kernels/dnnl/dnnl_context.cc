// Shared oneDNN engine and streams.
#include "kernels/dnnl/dnnl_context.h"

#include <atomic>

#include "threading/openmp_on_pool.h"

namespace qtf {
namespace {

std::atomic<int64_t>& counter() {
  static std::atomic<int64_t> created{0};
  return created;
}

}  // namespace

dnnl::engine& dnnl_engine() {
  static dnnl::engine engine = [] {
    // Before oneDNN's first parallel region: its OpenMP calls go to the
    // runtime's pool (threading/openmp_on_pool.h).
    run_openmp_imports_on_pool(reinterpret_cast<const void*>(&dnnl_engine_create));
    return dnnl::engine(dnnl::engine::kind::cpu, 0);
  }();
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
