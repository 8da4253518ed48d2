// An OpenMP library that uses only the entry points the runtime's pool
// provides: a parallel region, the thread queries, a barrier.
#include <omp.h>

#include "openmp_probe.h"

extern "C" ProbeTeam probe_team(int threads) {
  ProbeTeam result;
  int arrived[kProbeMaxThreads] = {};
  int index_sum = 0, all_arrived = 1, team = 0, in_parallel = 1;
#pragma omp parallel num_threads(threads)
  {
    const int index = omp_get_thread_num();
    const int count = omp_get_num_threads();
    if (index < kProbeMaxThreads) {
#pragma omp atomic write
      arrived[index] = 1;
    }
#pragma omp barrier
    for (int i = 0; i < count && i < kProbeMaxThreads; ++i) {
      int seen;
#pragma omp atomic read
      seen = arrived[i];
      if (!seen) {
#pragma omp atomic write
        all_arrived = 0;
      }
    }
    if (!omp_in_parallel() && count > 1) {
#pragma omp atomic write
      in_parallel = 0;
    }
#pragma omp atomic
    index_sum += index;
    if (index == 0) team = count;
  }
  result.team = team;
  result.index_sum = index_sum;
  result.all_arrived_at_barrier = all_arrived != 0;
  result.in_parallel_inside = in_parallel != 0;
  result.max_threads = omp_get_max_threads();
  return result;
}
