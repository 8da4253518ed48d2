// Recycling of large tensor buffers between runs.
//
// A model run allocates the same large activations every time; handing each
// back to malloc returns it to the OS (big blocks are mmap'ed), so the next
// run pays a page fault per 4 KiB again. Buffers of at least
// kMinCachedBytes are instead kept, up to kMaxCachedBytes in total, and
// reused for a later request of exactly the same size.
#pragma once

#include <cstddef>

namespace qtf {

constexpr size_t kBufferAlignment = 64;
constexpr size_t kMinCachedBytes = size_t{256} << 10;
constexpr size_t kMaxCachedBytes = size_t{512} << 20;

// A 64-byte aligned buffer of `bytes` (a multiple of the alignment, > 0),
// reused when one of that size is cached; nullptr when memory is exhausted.
void* acquire_buffer(size_t bytes);
// Gives back a buffer from acquire_buffer with the same `bytes`.
void release_buffer(void* p, size_t bytes);
// Bytes currently held for reuse.
size_t cached_buffer_bytes();

}  // namespace qtf
