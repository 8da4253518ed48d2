#include "child_process.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace quarrow::batch {

std::vector<std::string> merged_environment(
    char* const* base, const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> result;
  auto position = [&](const std::string& name) {
    for (std::size_t i = 0; i < result.size(); ++i) {
      if (result[i].size() > name.size() && result[i][name.size()] == '=' &&
          result[i].compare(0, name.size(), name) == 0) {
        return i;
      }
    }
    return result.size();
  };
  for (char* const* entry = base; entry != nullptr && *entry != nullptr; ++entry) {
    result.emplace_back(*entry);
  }
  for (const auto& [name, value] : extra) {
    const std::size_t at = position(name);
    std::string entry = name + "=" + value;
    if (at < result.size()) {
      result[at] = std::move(entry);
    } else {
      result.push_back(std::move(entry));
    }
  }
  return result;
}

pid_t start_child(const ChildRequest& request, std::string& error) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(request.program.c_str()));
  for (const std::string& argument : request.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  // Between fork and exec the child must not take locks or allocate (setenv
  // there could wait forever on a lock another thread held at the fork), so
  // its environment is built here.
  std::vector<std::string> environment = merged_environment(environ, request.environment);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // Everything the child needs is opened before the fork, so that a failure
  // is reported here rather than as a mysterious exit code.
  auto open_output = [&](const std::string& path) {
    if (path.empty()) return -2;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) error = "can't open " + path + ": " + std::strerror(errno);
    return fd;
  };
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open_output(request.stdout_path);
  const int err = open_output(request.stderr_path);
  auto close_all = [&] {
    for (int fd : {in, out, err}) {
      if (fd >= 0) ::close(fd);
    }
  };
  if (in < 0 || out == -1 || err == -1) {
    if (error.empty()) error = "can't open /dev/null";
    close_all();
    return -1;
  }
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  for (int cpu : request.cpus) CPU_SET(cpu, &cpus);

  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork failed: ") + std::strerror(errno);
    close_all();
    return -1;
  }
  if (pid == 0) {
    ::dup2(in, 0);
    if (out >= 0) ::dup2(out, 1);
    if (err >= 0) ::dup2(err, 2);
    if (!request.cpus.empty()) ::sched_setaffinity(0, sizeof cpus, &cpus);
    ::execvpe(request.program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  close_all();
  return pid;
}

int wait_child(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

std::pair<pid_t, int> wait_any_child() {
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, 0)) < 0) {
    if (errno != EINTR) return {-1, 0};
  }
  return {pid, status};
}

std::vector<int> allowed_cpus() {
  std::vector<int> result;
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &cpus)) result.push_back(cpu);
    }
  }
  if (result.empty()) result.push_back(0);
  return result;
}

}  // namespace quarrow::batch

namespace quarrow::batch {

int run_reading_lines(const std::string& program, const std::vector<std::string>& arguments,
                      const std::function<void(const std::string&)>& on_line,
                      std::string& error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("pipe failed: ") + std::strerror(errno);
    return -1;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork failed: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      on_line(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
  if (!pending.empty()) on_line(pending);
  ::close(fds[0]);
  return wait_child(pid);
}

}  // namespace quarrow::batch
