#include "slurm_cluster.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "process_runner.h"

namespace quarrow::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPrograms[] = {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "scancel",
                                 "scontrol", "sinfo"};

// A loopback port nobody listens on now.
int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

pid_t start_daemon(const std::vector<std::string>& argv, const std::string& log) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    // Out of the test's process group, and ended with the test however it ends.
    ::setsid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

bool still_running(pid_t pid) {
  int status;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

// SIGTERM, a bounded wait, then SIGKILL.
void stop_daemon(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int status;
  while (Clock::now() < deadline) {
    if (::waitpid(pid, &status, WNOHANG) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
}

std::string short_hostname() {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  std::string host = name;
  return host.substr(0, host.find('.'));
}

long memory_megabytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long kilobytes = 0;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemTotal:") return kilobytes / 1024;
    meminfo.ignore(1 << 10, '\n');
  }
  return 1024;
}

std::string tail(const std::string& path, std::size_t lines) {
  std::istringstream text(read_file(path));
  std::vector<std::string> all;
  for (std::string line; std::getline(text, line);) all.push_back(line);
  std::string result;
  for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) {
    result += all[i] + "\n";
  }
  return result;
}

}  // namespace

std::string find_program(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(std::string(path ? path : "") + ":/usr/sbin:/sbin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/" + program;
    if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::string SlurmCluster::unavailable_reason() {
  if (::geteuid() != 0) return "starting a Slurm cluster needs root";
  for (const char* program : kPrograms) {
    if (find_program(program).empty()) {
      return std::string(program) + " not found: install slurm-wlm and munge (make setup does)";
    }
  }
  return "";
}

SlurmCluster::~SlurmCluster() { stop(); }

bool SlurmCluster::start(const std::string& folder, std::string& error) {
  folder_ = folder;
  // Free ports can be taken between choosing and binding: try anew.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (start_once(error)) return true;
    stop();
  }
  return false;
}

bool SlurmCluster::start_once(std::string& error) {
  const std::string munge = folder_ + "/munge";
  fs::remove_all(folder_);
  fs::create_directories(munge);
  fs::create_directories(folder_ + "/state");
  fs::create_directories(folder_ + "/spool");
  fs::permissions(munge, fs::perms::owner_all);

  // A fresh key for this cluster alone.
  const std::string key = munge + "/munge.key";
  {
    std::random_device random;
    std::string bytes(1024, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    write_file(key, bytes);
    fs::permissions(key, fs::perms::owner_read);
  }
  const std::string socket = munge + "/munge.socket";
  daemons_.push_back(start_daemon(
      {find_program("munged"), "--foreground", "--force", "--key-file=" + key,
       "--socket=" + socket, "--pid-file=" + munge + "/munged.pid",
       "--log-file=" + munge + "/munged.log", "--seed-file=" + munge + "/munged.seed"},
      folder_ + "/munged.out"));
  auto deadline = Clock::now() + std::chrono::seconds(15);
  while (!fs::exists(socket) && Clock::now() < deadline && still_running(daemons_.back())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!fs::exists(socket)) {
    error = "munged did not start";
    return false;
  }

  const std::string host = short_hostname();
  const int ctld_port = free_port();
  int slurmd_port = free_port();
  while (slurmd_port == ctld_port) slurmd_port = free_port();
  conf_ = folder_ + "/slurm.conf";
  std::ostringstream conf;
  conf << "ClusterName=quarrowtest\n"
       << "SlurmctldHost=" << host << "(127.0.0.1)\n"
       << "SlurmctldPort=" << ctld_port << "\nSlurmdPort=" << slurmd_port << "\n"
       << "SlurmUser=root\nSlurmdUser=root\n"
       << "AuthType=auth/munge\nCredType=cred/munge\n"
       // A requeued job waits cred_expire seconds before it starts again.
       << "AuthInfo=socket=" << socket << ",cred_expire=5\n"
       << "StateSaveLocation=" << folder_ << "/state\nSlurmdSpoolDir=" << folder_ << "/spool\n"
       << "SlurmctldPidFile=" << folder_ << "/slurmctld.pid\n"
       << "SlurmdPidFile=" << folder_ << "/slurmd.pid\n"
       << "SlurmctldLogFile=" << folder_ << "/slurmctld.log\n"
       << "SlurmdLogFile=" << folder_ << "/slurmd.log\n"
       << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\nMpiDefault=none\n"
       << "SchedulerType=sched/builtin\nSchedulerParameters=sched_interval=1\n"
       << "SelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\n"
       << "ReturnToService=2\n"
       << "AccountingStorageType=accounting_storage/none\n"
       << "JobAcctGatherType=jobacct_gather/none\nJobCompType=jobcomp/none\n"
       << "CommunicationParameters=NoCtldInAddrAny,NoInAddrAny\n"
       << "PlugStackConfig=" << folder_ << "/plugstack.conf\n"
       << "NodeName=" << host << " NodeAddr=127.0.0.1 CPUs=" << ::sysconf(_SC_NPROCESSORS_ONLN)
       << " RealMemory=" << memory_megabytes() << " State=UNKNOWN\n"
       << "PartitionName=test Nodes=" << host << " Default=YES MaxTime=INFINITE State=UP\n";
  write_file(conf_, conf.str());
  write_file(folder_ + "/plugstack.conf", "");
  ::setenv("SLURM_CONF", conf_.c_str(), 1);

  daemons_.push_back(start_daemon({find_program("slurmctld"), "-D", "-i", "-f", conf_},
                                  folder_ + "/slurmctld.out"));
  daemons_.push_back(start_daemon({find_program("slurmd"), "-D", "-f", conf_, "-N", host},
                                  folder_ + "/slurmd.out"));

  deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    for (pid_t pid : daemons_) {
      if (!still_running(pid)) {
        error = "a Slurm daemon ended at start-up";
        return false;
      }
    }
    const ProcessResult state = run_process(find_program("sinfo"), {"-h", "-o", "%t"});
    if (state.exit_code == 0 && state.out.rfind("idle", 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  error = "the Slurm node did not become idle";
  return false;
}

void SlurmCluster::stop() {
  if (daemons_.empty()) return;
  if (daemons_.size() == 3 && still_running(daemons_[1])) {
    // Jobs first, so that no slurmstepd outlives its slurmd.
    run_process(find_program("scancel"), {"--full", "--user=root"});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      const ProcessResult queue = run_process(find_program("squeue"), {"-h"});
      if (queue.exit_code != 0 || queue.out.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) stop_daemon(*it);
  daemons_.clear();
}

std::string SlurmCluster::log_tails() const {
  std::string text;
  for (const char* log : {"/slurmctld.log", "/slurmd.log", "/munged.out", "/slurmctld.out", "/slurmd.out"}) {
    text += std::string("--- ") + log + "\n" + tail(folder_ + log, 15);
  }
  return text;
}

}  // namespace quarrow::testing
