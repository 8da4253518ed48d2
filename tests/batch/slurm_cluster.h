// A single-node Slurm cluster for tests: munged, slurmctld and slurmd started
// as children of the test, in its own folder, on free loopback ports, with
// the node's CPUs and memory those of this machine. Stopped by their own
// pids, never by name: other Slurm or munge processes may be running.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quarrow::testing {

class SlurmCluster {
 public:
  // Why no cluster can be started here ("" when one can): not root, or the
  // slurm-wlm and munge programs are missing.
  static std::string unavailable_reason();

  SlurmCluster() = default;
  ~SlurmCluster();
  SlurmCluster(const SlurmCluster&) = delete;
  SlurmCluster& operator=(const SlurmCluster&) = delete;

  // Starts the daemons in `folder` and waits (bounded) until the node is
  // idle. False with `error` set (and everything stopped) on failure.
  bool start(const std::string& folder, std::string& error);

  // Cancels what is left of the jobs, then stops the daemons.
  void stop();

  // The configuration file; SLURM_CONF must name it for the client commands.
  const std::string& conf() const { return conf_; }

  // The last lines of the daemons' logs, for a failure message.
  std::string log_tails() const;

 private:
  bool start_once(std::string& error);

  std::string folder_;
  std::string conf_;
  std::vector<pid_t> daemons_;  // in start order
};

// The full path of `program` found in PATH, or "".
std::string find_program(const std::string& program);

}  // namespace quarrow::testing
