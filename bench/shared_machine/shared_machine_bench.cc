// A whole quarrow run on a data folder of synthetic panoramas, quiet and
// beside busy processes, all in the same run: the slowdown a shared machine
// causes. Each round runs quiet, with one core busy and with every core busy,
// in a rotating order; the busy processes are pinned one per CPU and spin in
// a loop bounded in time.
//
//   bench_shared_machine [--images=20] [--rounds=3] [--models=DIR] [--quarrow=PATH]
//
// Targets: one core busy <= 1.3x the quiet time, all (two) cores busy <= 2.5x
// (a fair share of two cores is 2x).
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "inference/network_contract.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kOneBusyTarget = 1.3;
constexpr double kAllBusyTarget = 2.5;
// A busy process ends by itself after this long, whatever happens here.
constexpr std::chrono::seconds kBusyLimit{120};

// A 2048 x 1024 panorama: a sky gradient above, a darker ground below (every
// other image mostly ground, so both depth models run), and noise the JPEG
// coder cannot flatten.
cv::Mat panorama(int index) {
  const int w = 2048, h = 1024;
  cv::Mat img(h, w, CV_8UC3);
  std::mt19937 rng(static_cast<unsigned>(index) + 1);
  std::normal_distribution<float> noise(0.f, 10.f);
  const int horizon = index % 2 == 0 ? h / 2 : h / 5;
  for (int y = 0; y < h; ++y) {
    const float t = static_cast<float>(y) / static_cast<float>(h);
    for (int x = 0; x < w; ++x) {
      const bool sky = y < horizon;
      const float base[3] = {sky ? 235 - 80 * t : 70 + 20 * t, sky ? 190 - 60 * t : 100 - 10 * t,
                             sky ? 140 - 40 * t : 90};
      cv::Vec3b& px = img.at<cv::Vec3b>(y, x);
      for (int c = 0; c < 3; ++c) px[c] = cv::saturate_cast<uchar>(base[c] + noise(rng));
    }
  }
  return img;
}

bool write_data_folder(const fs::path& root, int images) {
  fs::create_directories(root / "caches" / "images");
  std::ofstream json(root / "caches" / "images.json");
  json << "{\"images\": [\n";
  for (int i = 0; i < images; ++i) {
    const std::string uuid = "pano" + std::to_string(i);
    if (!cv::imwrite((root / "caches" / "images" / (uuid + ".jpg")).string(), panorama(i),
                     {cv::IMWRITE_JPEG_QUALITY, 92})) {
      return false;
    }
    json << "  {\"uuid\": \"" << uuid << "\", \"id\": " << i + 1 << ", \"is_main\": true}"
         << (i + 1 < images ? "," : "") << "\n";
  }
  json << "]}\n";
  return static_cast<bool>(json);
}

std::vector<int> allowed_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return {0};
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &set)) cpus.push_back(c);
  }
  return cpus;
}

// A process that keeps one CPU busy until killed or kBusyLimit passes.
pid_t start_busy(int cpu) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof(one), &one);
  const Clock::time_point end = Clock::now() + kBusyLimit;
  volatile uint64_t x = 1;
  while (Clock::now() < end) {
    for (int i = 0; i < 100000; ++i) x = x * 6364136223846793005ull + 1442695040888963407ull;
  }
  _exit(0);
}

void stop(const std::vector<pid_t>& pids) {
  for (pid_t p : pids) kill(p, SIGKILL);
  for (pid_t p : pids) waitpid(p, nullptr, 0);
}

struct RunTime {
  double wall = -1;  // seconds; negative when the run failed
  double cpu = 0;    // user + system seconds of quarrow
};

RunTime run_quarrow(const std::string& quarrow, const std::string& models, const std::string& data) {
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null != nullptr) dup2(fileno(null), 1);
    execl(quarrow.c_str(), quarrow.c_str(), models.c_str(), data.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  RunTime t;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return t;
  }
  t.wall = std::chrono::duration<double>(Clock::now() - start).count();
  t.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return t;
}

double load_average() {
  double l = -1;
  std::ifstream("/proc/loadavg") >> l;
  return l;
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string option(int argc, char** argv, const char* name, const std::string& fallback) {
  const size_t len = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], name, len) == 0 && argv[i][len] == '=') return argv[i] + len + 1;
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const int images = std::max(1, std::atoi(option(argc, argv, "--images", "20").c_str()));
  const int rounds = std::max(1, std::atoi(option(argc, argv, "--rounds", "3").c_str()));
  const std::string models = option(argc, argv, "--models", QUARROW_DEFAULT_MODELS);
  const std::string quarrow = option(argc, argv, "--quarrow", QUARROW_BINARY);
  if (!fs::is_directory(fs::path(models) / quarrow::kSkyModelFolder)) {
    std::fprintf(stderr, "no models in %s (make models, or --models=DIR)\n", models.c_str());
    return 1;
  }

  char pattern[] = "/tmp/shared_machine_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path data = pattern;
  if (!write_data_folder(data, images)) {
    std::fprintf(stderr, "cannot write the data folder %s\n", data.c_str());
    return 1;
  }
  const std::vector<int> cpus = allowed_cpus();
  std::printf("CPU: %s, %zu usable CPUs; %d images of 2048x1024; models %s\n", cpu_model().c_str(), cpus.size(),
              images, models.c_str());
  std::printf("load average at start: %.2f\n", load_average());

  // The busy-process counts compared: none, one, every CPU.
  const std::vector<size_t> loads = {0, 1, cpus.size()};
  std::vector<std::vector<RunTime>> times(loads.size());
  run_quarrow(quarrow, models, data.string());  // warm the page cache
  for (int r = 0; r < rounds; ++r) {
    for (size_t k = 0; k < loads.size(); ++k) {
      const size_t which = (k + static_cast<size_t>(r)) % loads.size();
      std::vector<pid_t> busy;
      for (size_t b = 0; b < loads[which]; ++b) busy.push_back(start_busy(cpus[b % cpus.size()]));
      const RunTime t = run_quarrow(quarrow, models, data.string());
      stop(busy);
      if (t.wall < 0) {
        std::fprintf(stderr, "quarrow failed\n");
        fs::remove_all(data);
        return 1;
      }
      times[which].push_back(t);
      std::printf("round %d, %zu busy: %.2f s (quarrow CPU %.2f s)\n", r + 1, loads[which], t.wall, t.cpu);
    }
  }
  fs::remove_all(data);

  auto walls = [&](size_t k) {
    std::vector<double> w;
    for (const RunTime& t : times[k]) w.push_back(t.wall);
    return w;
  };
  const double quiet = median(walls(0));
  std::printf("quiet: median %.2f s (%.0f ms per image)\n", quiet, 1e3 * quiet / images);
  bool met = true;
  for (size_t k = 1; k < loads.size(); ++k) {
    // Each round's ratio against the same round's quiet run shows the spread.
    std::vector<double> ratios;
    for (size_t r = 0; r < times[k].size(); ++r) ratios.push_back(times[k][r].wall / times[0][r].wall);
    const double target = k == 1 ? kOneBusyTarget : kAllBusyTarget;
    const double slowdown = median(walls(k)) / quiet;
    met = met && slowdown <= target;
    std::printf("%zu of %zu CPUs busy: median %.2f s, slowdown %.2fx (rounds %.2f-%.2fx), target <= %.1fx: %s\n",
                loads[k], cpus.size(), median(walls(k)), slowdown, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), target, slowdown <= target ? "met" : "MISSED");
  }
  std::printf("load average at end: %.2f\n", load_average());
  return met ? 0 : 2;
}
