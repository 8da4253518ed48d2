// The size of the runtime's pool: the CPUs the process may use
// (cpu_quota.h), or fewer when OMP_NUM_THREADS asks for fewer. Batch
// runners and cluster job scripts tell each process its share that way; a
// larger request never takes the pool past the usable CPUs.
#pragma once

#include <optional>

namespace qtf {

// The count an OMP_NUM_THREADS value asks for: a positive whole number, or
// the first entry of a list per nesting level ("4,2"), spaces allowed
// around it. nullopt when unset (null), empty or anything else.
std::optional<int> threads_asked(const char* omp_num_threads);

// For this process: usable_cpu_count(), capped by threads_asked() of its
// OMP_NUM_THREADS.
int pool_thread_count();

}  // namespace qtf
