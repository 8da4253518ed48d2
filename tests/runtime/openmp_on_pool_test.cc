// Rebinding a library's OpenMP imports to the runtime's pool: the import
// list of a loaded library, a probe library that then runs its regions on
// the pool, one with an unsupported entry point that is left alone, and
// oneDNN itself, which after the runtime's first use starts no thread of its
// own.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <dnnl.h>

#include "kernel_testing.h"
#include "kernels/dnnl/dnnl_context.h"
#include "openmp_probe/openmp_probe.h"
#include "threading/elf_imports.h"
#include "threading/openmp_on_pool.h"
#include "threading/thread_pool.h"

namespace qtf {
namespace {

using namespace qtf::testing;  // NOLINT: test helpers

std::map<std::string, void*> imports_of(const void* address) {
  std::map<std::string, void*> out;
  for (const ImportedFunction& f : imported_functions(address)) out[f.name] = *f.slot;
  return out;
}

// The loaded object holding `address`.
std::string object_of(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

TEST(ElfImports, ListsTheImportsOfALoadedLibrary) {
  const auto probe = imports_of(reinterpret_cast<const void*>(&probe_unsupported));
  const std::string self = object_of(reinterpret_cast<const void*>(&probe_unsupported));
  for (const char* name : {"GOMP_parallel", "omp_get_num_procs"}) {
    ASSERT_EQ(probe.count(name), 1u) << name;
    // Each slot holds libgomp's function, or while lazily unbound the
    // library's own resolver stub.
    const void* bound = probe.at(name);
    EXPECT_TRUE(bound == dlsym(RTLD_DEFAULT, name) || object_of(bound) == self) << name;
  }
  probe_unsupported();  // binds the lazy slots
  EXPECT_EQ(imports_of(reinterpret_cast<const void*>(&probe_unsupported)).at("GOMP_parallel"),
            dlsym(RTLD_DEFAULT, "GOMP_parallel"));
  EXPECT_EQ(probe.count("probe_unsupported"), 0u) << "a defined function is not an import";
  EXPECT_TRUE(imported_functions(nullptr).empty());
}

TEST(OpenmpOnPool, UnsupportedEntryPointLeavesTheLibraryAlone) {
  const void* library = reinterpret_cast<const void*>(&probe_unsupported);
  const auto before = imports_of(library);
  EXPECT_FALSE(run_openmp_imports_on_pool(library));
  EXPECT_EQ(imports_of(library), before);
  const int64_t regions = ThreadPool::global().regions_started();
  const int result = probe_unsupported();
  EXPECT_GE(result / 1000, 1);
  EXPECT_EQ(ThreadPool::global().regions_started(), regions) << "its regions stay on libgomp";
  // A library without OpenMP imports: nothing to do.
  EXPECT_FALSE(run_openmp_imports_on_pool(reinterpret_cast<const void*>(&std::strlen)));
}

TEST(OpenmpOnPool, SupportedLibraryRunsItsRegionsOnThePool) {
  const void* library = reinterpret_cast<const void*>(&probe_team);
  ASSERT_TRUE(run_openmp_imports_on_pool(library));
  EXPECT_TRUE(run_openmp_imports_on_pool(library)) << "a second call finds it done";
  const std::string self = object_of(reinterpret_cast<const void*>(&run_openmp_imports_on_pool));
  for (const auto& [name, function] : imports_of(library)) {
    if (name.rfind("GOMP_", 0) == 0 || name.rfind("omp_", 0) == 0) {
      EXPECT_EQ(object_of(function), self) << name << " should now be the pool's";
    }
  }
  ThreadPool& pool = ThreadPool::global();
  for (const int threads : {0, 1, 2, pool.size() + 3}) {
    const int64_t regions = pool.regions_started();
    const ProbeTeam t = probe_team(threads);
    const int want = threads == 0 ? pool.size() : std::min(threads, pool.size());
    EXPECT_EQ(t.team, want) << threads;
    EXPECT_EQ(t.index_sum, want * (want - 1) / 2) << threads;
    EXPECT_TRUE(t.all_arrived_at_barrier) << threads;
    EXPECT_TRUE(t.in_parallel_inside) << threads;
    EXPECT_EQ(t.max_threads, pool.size());
    EXPECT_EQ(pool.regions_started(), regions + (want > 1 ? 1 : 0)) << threads;
  }
}

// Threads of this process that are neither the pool's workers nor the
// main thread.
int other_threads() {
  const std::vector<pid_t> workers = ThreadPool::global().worker_ids();
  int count = 0;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  for (dirent* e; (e = readdir(dir)) != nullptr;) {
    if (e->d_name[0] == '.') continue;
    const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
    if (tid == getpid() || std::find(workers.begin(), workers.end(), tid) != workers.end()) continue;
    ++count;
  }
  closedir(dir);
  return count;
}

TEST(OpenmpOnPool, OneDnnRunsOnThePool) {
  const void* dnnl = reinterpret_cast<const void*>(&dnnl_engine_create);
  if (imports_of(dnnl).count("GOMP_parallel") == 0) GTEST_SKIP() << "this oneDNN does not use OpenMP";
  dnnl_engine();  // binds
  EXPECT_TRUE(run_openmp_imports_on_pool(dnnl));
  ThreadPool& pool = ThreadPool::global();
  if (pool.size() < 2) GTEST_SKIP() << "one usable CPU: no region to observe";
  const int before = other_threads();
  const int64_t regions = pool.regions_started();
  // A convolution big enough for oneDNN to split it between threads.
  const int64_t h = 64, w = 64, c = 16;
  std::vector<float> x(static_cast<size_t>(h * w * c)), f(static_cast<size_t>(9 * c * c));
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(i % 7) - 3.f;
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<float>(i % 5) * 0.1f;
  Node node("Conv2D");
  node.attr("T", TF_FLOAT).attr("padding", "SAME").attr("strides", {1, 1, 1, 1});
  const Tensor y = node.run1({make<float>({1, h, w, c}, x), make<float>({3, 3, c, c}, f)});
  ASSERT_EQ(y.shape(), (Shape{1, h, w, c}));
  // Spot check one interior output against the definition.
  const int64_t oy = 10, ox = 20, oc = 3;
  double want = 0;
  for (int64_t ky = 0; ky < 3; ++ky) {
    for (int64_t kx = 0; kx < 3; ++kx) {
      for (int64_t ic = 0; ic < c; ++ic) {
        want += x[static_cast<size_t>(((oy + ky - 1) * w + (ox + kx - 1)) * c + ic)] *
                f[static_cast<size_t>(((ky * 3 + kx) * c + ic) * c + oc)];
      }
    }
  }
  EXPECT_NEAR(y.data<float>()[(oy * w + ox) * c + oc], want, 1e-3);
  EXPECT_GT(pool.regions_started(), regions) << "oneDNN's regions run on the pool";
  EXPECT_EQ(other_threads(), before) << "libgomp started no threads";
}

}  // namespace
}  // namespace qtf
