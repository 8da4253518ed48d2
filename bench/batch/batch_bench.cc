// Images per second of one quarrow process against `quarrow-batch run
// --jobs J` on the same 200 panoramas with the default models, in the same
// run: the runs are interleaved and repeated, so that a machine busy with
// other work weighs on all alike. One quarrow runs twice per round: as it
// is, and with OMP_WAIT_POLICY=passive (the runtime's own pool parks its
// threads and libgomp starts none, so the two should agree). Prints each
// round, the medians and the load average before and after.
//
// usage: bench_batch [models_folder] [images] [rounds] [jobs]
//   defaults: the repository's models/default, 200, 3, 2
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

namespace fs = std::filesystem;

// A 2048 x 1024 JPEG: a sky gradient over the upper part (its height varies,
// so both scene branches run), textured ground below.
void write_panorama(const std::string& path, int index) {
  cv::Mat image(1024, 2048, CV_8UC3);
  cv::RNG rng(static_cast<uint64_t>(index) + 1);
  rng.fill(image, cv::RNG::UNIFORM, cv::Scalar(20, 40, 30), cv::Scalar(120, 140, 110));
  const int horizon = 200 + (index * 97) % 700;
  for (int row = 0; row < horizon; ++row) {
    const double t = static_cast<double>(row) / horizon;
    image.row(row).setTo(cv::Scalar(235 - 40 * t, 190 - 30 * t, 130 + 60 * t));
  }
  cv::GaussianBlur(image, image, cv::Size(5, 5), 0);
  cv::imwrite(path, image, {cv::IMWRITE_JPEG_QUALITY, 90});
}

void make_data_folder(const std::string& data, int images) {
  fs::create_directories(data + "/caches/images");
  std::ofstream json(data + "/caches/images.json");
  json << "{\"images\": [";
  for (int i = 0; i < images; ++i) {
    const std::string uuid = "pano" + std::to_string(i);
    write_panorama(data + "/caches/images/" + uuid + ".jpg", i);
    json << (i ? ",\n" : "\n") << "{\"uuid\": \"" << uuid << "\", \"id\": " << i
         << ", \"is_main\": true}";
  }
  json << "]}\n";
}

// Wall seconds of one run of `argv` with its output discarded and
// OMP_WAIT_POLICY set to `wait_policy` unless that is empty; its exit code in `code`.
double timed_run(const std::vector<std::string>& argv, const char* wait_policy, int& code) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    if (*wait_policy) ::setenv("OMP_WAIT_POLICY", wait_policy, 1);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::string models = argc > 1 ? argv[1] : QUARROW_DEFAULT_MODELS;
  const int images = argc > 2 ? std::atoi(argv[2]) : 200;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const std::string jobs = argc > 4 ? argv[4] : "2";
  if (images < 1 || rounds < 1 || std::atoi(jobs.c_str()) < 1) {
    std::cerr << "usage: bench_batch [models_folder] [images] [rounds] [jobs]" << std::endl;
    return 1;
  }

  char pattern[] = "/tmp/quarrow_batch_bench_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string root = pattern;
  const std::string single = root + "/single";
  const std::string sharded = root + "/sharded";
  std::cout << "Making " << images << " panoramas of 2048 x 1024 ..." << std::endl;
  make_data_folder(single, images);
  fs::copy(single, sharded, fs::copy_options::recursive);

  std::cout << "CPUs: " << ::sysconf(_SC_NPROCESSORS_ONLN) << "; load average before: "
            << load_average() << std::endl;
  struct Variant {
    std::string name;
    std::string data;
    std::vector<std::string> argv;
    const char* wait_policy;
    std::vector<double> rates;
  };
  std::vector<Variant> variants = {
      {"quarrow", single, {QUARROW_BINARY, models, single}, "", {}},
      {"quarrow, OMP_WAIT_POLICY=passive", single, {QUARROW_BINARY, models, single}, "passive", {}},
      {"quarrow-batch run --jobs " + jobs, sharded,
       {QUARROW_BATCH_BINARY, "run", models, sharded, "--shards", jobs, "--jobs", jobs}, "", {}},
  };
  bool ok = true;
  for (int round = 0; round < rounds; ++round) {
    for (Variant& variant : variants) {
      int code = 0;
      const double seconds = timed_run(variant.argv, variant.wait_policy, code);
      ok = ok && code == 0;
      variant.rates.push_back(images / seconds);
      std::printf("round %d: %-36s %6.2f images/s (%6.1f s), load %s\n", round + 1,
                  variant.name.c_str(), images / seconds, seconds, load_average().c_str());
      std::fflush(stdout);
    }
  }
  for (const Variant& variant : variants) {
    std::printf("median: %-36s %6.2f images/s (x%.2f of plain quarrow)\n", variant.name.c_str(),
                median(variant.rates), median(variant.rates) / median(variants[0].rates));
  }
  std::cout << "load average after: " << load_average() << std::endl;

  const bool same = [&] {
    std::ifstream a(single + "/caches/outdoor_flag.json", std::ios::binary);
    std::ifstream b(sharded + "/caches/outdoor_flag.json", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(a), {}) ==
           std::string(std::istreambuf_iterator<char>(b), {});
  }();
  std::cout << "outdoor_flag.json of both runs " << (same ? "identical" : "DIFFERENT") << std::endl;
  fs::remove_all(root);
  return ok && same ? 0 : 1;
}
