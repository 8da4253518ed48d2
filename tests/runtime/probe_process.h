// Runs a probe executable in a fresh process, whose runtime then decides its
// thread count anew, and returns what it printed.
#pragma once

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace qtf::testing {

// Starts `path` under a mask of one CPU when `one_cpu`, with OMP_NUM_THREADS
// set to `omp_num_threads` (unset when null), and returns its standard
// output, or a text starting with "probe failed" when it did not exit with 0.
inline std::string probe_output(const char* path, bool one_cpu, const char* omp_num_threads = nullptr) {
  int out[2];
  if (pipe(out) != 0) return "probe failed: pipe";
  const pid_t child = fork();
  if (child < 0) return "probe failed: fork";
  if (child == 0) {
    dup2(out[1], 1);
    if (one_cpu) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
      if (sched_setaffinity(0, sizeof(one), &one) != 0) _exit(3);
    }
    if (omp_num_threads != nullptr) {
      setenv("OMP_NUM_THREADS", omp_num_threads, 1);
    } else {
      unsetenv("OMP_NUM_THREADS");
    }
    execl(path, path, static_cast<char*>(nullptr));
    _exit(4);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "probe failed: " + std::to_string(status) + " " + text;
  }
  return text;
}

}  // namespace qtf::testing
