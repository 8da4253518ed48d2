// Starting a program as a child process with its streams in files, a given
// set of CPUs and extra environment variables; and waiting for it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarrow::batch {

struct ChildRequest {
  std::string program;                 // run as given when it holds a '/', else looked up in
                                       // this process's PATH
  std::vector<std::string> arguments;  // without argument 0
  std::string stdout_path;             // "" keeps the parent's stream
  std::string stderr_path;
  std::vector<int> cpus;               // CPU numbers to run on; empty: no restriction
  std::vector<std::pair<std::string, std::string>> environment;  // set on top of the parent's
};

// The environment `base` (a null-terminated "NAME=value" array, or null) with
// each of `extra` set on top: an existing NAME is replaced in place, a new one
// appended; when `extra` names a variable twice, the later value wins.
std::vector<std::string> merged_environment(
    char* const* base, const std::vector<std::pair<std::string, std::string>>& extra);

// The child's pid, or -1 with `error` set when it could not be started. A
// program that cannot be executed ends the child with 127.
pid_t start_child(const ChildRequest& request, std::string& error);

// Waits for `pid` (retrying on interruption) and returns its wait status.
int wait_child(pid_t pid);

// Waits for any child; its pid and wait status, or pid -1 when none is left.
std::pair<pid_t, int> wait_any_child();

// The CPUs this process may run on, in ascending order.
std::vector<int> allowed_cpus();

}  // namespace quarrow::batch

namespace quarrow::batch {

// Runs `program` with `arguments`, its standard output read line by line into
// `on_line` as it comes, standard error shared with this process. The wait
// status, or -1 with `error` set when it could not be started.
int run_reading_lines(const std::string& program, const std::vector<std::string>& arguments,
                      const std::function<void(const std::string&)>& on_line,
                      std::string& error);

}  // namespace quarrow::batch
