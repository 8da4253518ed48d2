// Two small OpenMP libraries for the tests of rebinding OpenMP imports to
// the runtime's pool.
#pragma once

constexpr int kProbeMaxThreads = 64;

struct ProbeTeam {
  int team = 0;        // omp_get_num_threads() seen by thread 0
  int index_sum = 0;   // sum of omp_get_thread_num() over the team
  bool all_arrived_at_barrier = false;
  bool in_parallel_inside = false;
  int max_threads = 0;  // omp_get_max_threads() after the region
};

extern "C" ProbeTeam probe_team(int threads);
// 1000 × the threads of its region + omp_get_num_procs().
extern "C" int probe_unsupported(void);
