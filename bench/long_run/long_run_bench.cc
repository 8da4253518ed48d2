// Resident memory of one quarrow run over a long data folder: a leak of a
// few kilobytes per image is invisible in a short run and fatal over a
// collection. The run is sampled every few milliseconds; each sample pairs
// the process's resident set with the number of sky masks written so far.
// The figure that matters is the growth from the 10th image to the last
// (by then every buffer, session and allocator arena has reached its size).
//
// The folder holds `images` records over a smaller set of distinct
// panoramas of three sizes (hard links, so the disk holds each once), in an
// order that mixes the sizes, so that buffers are resized again and again.
//
// usage: bench_long_run [models_folder] [images] [distinct]
//   defaults: the repository's models/default, 1000, 48
#include <signal.h>
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
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

namespace fs = std::filesystem;

constexpr int kFirstCountedImage = 10;
// Growth past this over the counted images is reported as not flat: a
// little more than what the allocator's arenas move by between samples.
constexpr double kFlatMiB = 4.0;

const cv::Size kSizes[] = {{2048, 1024}, {1024, 512}, {3000, 1500}};

// Sky over the upper part (its height varies, so both scene branches run),
// textured ground below.
cv::Mat panorama(int index) {
  const cv::Size size = kSizes[index % 3];
  cv::Mat image(size, CV_8UC3);
  cv::RNG rng(static_cast<uint64_t>(index) + 7);
  rng.fill(image, cv::RNG::UNIFORM, cv::Scalar(20, 40, 30), cv::Scalar(120, 140, 110));
  const int horizon = size.height * (10 + (index * 37) % 75) / 100;
  for (int row = 0; row < horizon; ++row) {
    const double t = static_cast<double>(row) / horizon;
    image.row(row).setTo(cv::Scalar(235 - 40 * t, 190 - 30 * t, 130 + 60 * t));
  }
  cv::GaussianBlur(image, image, cv::Size(5, 5), 0);
  return image;
}

void make_data_folder(const std::string& data, int images, int distinct) {
  const std::string folder = data + "/caches/images";
  fs::create_directories(folder);
  for (int i = 0; i < distinct; ++i) {
    cv::imwrite(folder + "/source" + std::to_string(i) + ".jpg", panorama(i),
                {cv::IMWRITE_JPEG_QUALITY, 90});
  }
  std::ofstream json(data + "/caches/images.json");
  json << "{\"images\": [";
  for (int i = 0; i < images; ++i) {
    const std::string uuid = "pano" + std::to_string(i);
    fs::create_hard_link(folder + "/source" + std::to_string(i % distinct) + ".jpg",
                         folder + "/" + uuid + ".jpg");
    json << (i ? ",\n" : "\n") << "{\"uuid\": \"" << uuid << "\", \"id\": " << i
         << ", \"is_main\": true}";
  }
  json << "]}\n";
}

// Masks written so far; temporary names of a write in progress don't count.
int masks_written(const std::string& segm) {
  std::error_code code;
  int count = 0;
  for (fs::directory_iterator it(segm, code), end; !code && it != end; it.increment(code)) {
    if (it->path().filename().string().find(".tmp-") == std::string::npos) ++count;
  }
  return count;
}

// VmRSS of `pid` in KiB, or -1 once the process is gone.
long resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = -1;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

struct Sample {
  int images;
  long kib;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string models = argc > 1 ? argv[1] : QUARROW_DEFAULT_MODELS;
  const int images = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int distinct = argc > 3 ? std::atoi(argv[3]) : 48;
  if (images <= kFirstCountedImage || distinct < 1) {
    std::cerr << "usage: bench_long_run [models_folder] [images > " << kFirstCountedImage
              << "] [distinct]" << std::endl;
    return 1;
  }

  char pattern[] = "/tmp/quarrow_long_run_XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::string data = pattern;
  std::cout << "Making " << images << " records over " << distinct
            << " panoramas (2048x1024, 1024x512, 3000x1500) ..." << std::endl;
  make_data_folder(data, images, distinct);
  const std::string segm = data + "/caches/segm";

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execl(QUARROW_BINARY, QUARROW_BINARY, models.c_str(), data.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::vector<Sample> samples;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    const long kib = resident_kib(pid);
    if (kib > 0) samples.push_back({masks_written(segm), kib});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const int written = masks_written(segm);
  fs::remove_all(data);
  if (!ran || written != images) {
    std::cerr << "quarrow failed (status " << status << ", " << written << " of " << images
              << " masks)" << std::endl;
    return 1;
  }

  // Per image count, the largest resident set seen while it was the last
  // one written. Once the last mask is written the run goes on to write
  // outdoor_flag.json, whose text grows with the record count: that phase is
  // reported on its own, not as growth.
  std::vector<long> peak(images + 1, 0);
  for (const Sample& s : samples) peak[s.images] = std::max(peak[s.images], s.kib);
  long at_first = 0;
  long highest = 0;
  std::printf("%8s %12s\n", "images", "RSS MiB");
  for (int n = kFirstCountedImage; n < images; ++n) {
    if (peak[n] == 0) continue;  // passed between two samples
    if (at_first == 0) at_first = peak[n];
    highest = std::max(highest, peak[n]);
    if (n == kFirstCountedImage || n % 100 == 0 || n == images - 1) {
      std::printf("%8d %12.1f\n", n, peak[n] / 1024.0);
    }
  }
  const double growth = (highest - at_first) / 1024.0;
  std::printf("%d images in %.1f s (%.1f ms each), %zu samples\n", images, seconds,
              1000.0 * seconds / images, samples.size());
  std::printf("resident set at image %d: %.1f MiB; highest up to the last image: %.1f MiB; "
              "growth %.1f MiB (%s, limit %.1f MiB)\n",
              kFirstCountedImage, at_first / 1024.0, highest / 1024.0, growth,
              growth <= kFlatMiB ? "flat" : "NOT flat", kFlatMiB);
  std::printf("highest while writing outdoor_flag.json: %.1f MiB\n", peak[images] / 1024.0);
  return growth <= kFlatMiB ? 0 : 2;
}
