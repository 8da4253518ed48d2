#include "threading/openmp_on_pool.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "threading/elf_imports.h"
#include "threading/thread_pool.h"

namespace qtf {
namespace {

// The outlined body of a `#pragma omp parallel` and its data, as libgomp's
// GOMP_parallel receives them.
struct OutlinedRegion {
  void (*body)(void*);
  void* data;
};

void run_outlined(void* arg, int, int) {
  const OutlinedRegion& region = *static_cast<const OutlinedRegion*>(arg);
  region.body(region.data);
}

// Same signatures as libgomp's. The team has `num_threads` threads (0: the
// pool's size); proc_bind flags are ignored.
void pool_parallel(void (*body)(void*), void* data, unsigned num_threads, unsigned /*flags*/) {
  OutlinedRegion region{body, data};
  const int threads = num_threads == 0 || num_threads > 1u << 20 ? 0 : static_cast<int>(num_threads);
  ThreadPool::global().run(threads, &run_outlined, &region);
}
void pool_barrier() { ThreadPool::barrier(); }
int pool_max_threads() { return ThreadPool::global().size(); }
int pool_num_threads() { return ThreadPool::region_threads(); }
int pool_thread_num() { return ThreadPool::thread_index(); }
int pool_in_parallel() { return ThreadPool::in_parallel_region() ? 1 : 0; }

struct Replacement {
  const char* name;
  void* function;
};

const Replacement kReplacements[] = {
    {"GOMP_parallel", reinterpret_cast<void*>(&pool_parallel)},
    {"GOMP_barrier", reinterpret_cast<void*>(&pool_barrier)},
    {"omp_get_max_threads", reinterpret_cast<void*>(&pool_max_threads)},
    {"omp_get_num_threads", reinterpret_cast<void*>(&pool_num_threads)},
    {"omp_get_thread_num", reinterpret_cast<void*>(&pool_thread_num)},
    {"omp_in_parallel", reinterpret_cast<void*>(&pool_in_parallel)},
};

bool starts_with(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Entry points of libgomp and of LLVM's and Intel's OpenMP runtimes.
bool is_openmp(const std::string& name) {
  return starts_with(name, "GOMP_") || starts_with(name, "omp_") || starts_with(name, "kmp_") ||
         starts_with(name, "__kmpc_") || starts_with(name, "GOACC_");
}

void* replacement_for(const std::string& name) {
  for (const Replacement& r : kReplacements) {
    if (name == r.name) return r.function;
  }
  return nullptr;
}

}  // namespace

bool run_openmp_imports_on_pool(const void* address) {
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  std::vector<ImportedFunction> openmp;
  for (ImportedFunction& f : imported_functions(address)) {
    if (!is_openmp(f.name)) continue;
    if (replacement_for(f.name) == nullptr) return false;
    openmp.push_back(std::move(f));
  }
  if (openmp.empty()) return false;
  std::vector<void*> original;
  for (const ImportedFunction& f : openmp) {
    original.push_back(*f.slot);
    if (*f.slot == replacement_for(f.name) || rebind_import(f, replacement_for(f.name))) continue;
    // Never leave the library half on libgomp, half on the pool.
    for (size_t i = 0; i + 1 < original.size(); ++i) rebind_import(openmp[i], original[i]);
    return false;
  }
  return true;
}

}  // namespace qtf
