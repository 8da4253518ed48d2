// oneDNN as Debian builds it parallelises through OpenMP (libgomp), whose
// idle threads spin for milliseconds and take the CPUs of a shared machine
// from the threads with work; its wait policy is read once from the
// environment when libgomp loads, before any code of ours runs. So the
// OpenMP functions a library imports are rebound, in that library only, to
// versions that run on the runtime's ThreadPool.
#pragma once

namespace qtf {

// Rebinds the OpenMP imports of the loaded library containing `address`.
// All or nothing: when the library imports an OpenMP function this file
// does not provide (another oneDNN build), or none at all (a build on TBB or
// its own threads), nothing changes and it keeps its own threading. Returns
// whether the library now runs on the pool. Call before the library first
// runs a parallel region; calling again is harmless.
bool run_openmp_imports_on_pool(const void* address);

}  // namespace qtf
