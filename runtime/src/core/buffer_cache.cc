#include "core/buffer_cache.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace qtf {
namespace {

struct Cache {
  std::mutex mu;
  std::multimap<size_t, void*> free;  // size -> buffer
  size_t bytes = 0;
};

Cache& cache() {
  // Never destroyed: tensors held in other static objects may be released
  // after this translation unit's statics are gone.
  static Cache* c = new Cache();
  return *c;
}

}  // namespace

void* acquire_buffer(size_t bytes) {
  if (bytes >= kMinCachedBytes) {
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mu);
    const auto it = c.free.find(bytes);
    if (it != c.free.end()) {
      void* p = it->second;
      c.free.erase(it);
      c.bytes -= bytes;
      return p;
    }
  }
  return std::aligned_alloc(kBufferAlignment, bytes);
}

void release_buffer(void* p, size_t bytes) {
  if (p == nullptr) return;
  if (bytes >= kMinCachedBytes) {
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mu);
    if (c.bytes + bytes <= kMaxCachedBytes) {
      c.free.emplace(bytes, p);
      c.bytes += bytes;
      return;
    }
  }
  std::free(p);
}

size_t cached_buffer_bytes() {
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mu);
  return c.bytes;
}

}  // namespace qtf
