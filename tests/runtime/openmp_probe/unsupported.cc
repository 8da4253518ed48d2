// An OpenMP library that also calls an entry point the pool does not
// provide (omp_get_num_procs): it must be left on its own OpenMP runtime.
#include <omp.h>

#include "openmp_probe.h"

extern "C" int probe_unsupported(void) {
  int ran = 0;
#pragma omp parallel
  {
#pragma omp atomic
    ran += 1;
  }
  return ran * 1000 + omp_get_num_procs();
}
