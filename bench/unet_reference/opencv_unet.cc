// The reference U-Net through OpenCV's DNN module (default backend, CPU),
// built layer by layer with the weights of unet_layers.h.
//
// It runs as its own process because OpenCV's DNN module and the runtime
// both register protobuf files named graph.proto, tensor.proto and
// types.proto, which libprotobuf refuses within one process. The benchmark
// starts it as:  unet_reference_opencv <output.f32> <runs>
// It writes the output (NCHW, which for one channel is the same order as
// NHWC) and prints "opencv_ms <median> <min> cpu_ms <per run> threads <n>"
// (CPU time of all threads).
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "unet_layers.h"

namespace {

// Builder for unet::build: a Value is (layer id, channels).
struct OpenCvBuilder {
  struct Value {
    int id = 0;
    int channels = 0;
  };
  cv::dnn::Net net;
  std::string last;
  int counter = 0;

  int add(const std::string& name, const std::string& type, cv::dnn::LayerParams& lp, const Value& from) {
    lp.name = name;
    lp.type = type;
    const int id = net.addLayer(name, type, lp);
    net.connect(from.id, 0, id, 0);
    last = name;
    return id;
  }

  Value input() {
    net.setInputsNames({"data"});
    return Value{0, unet::kInChannels};
  }
  Value conv(Value x, const unet::ConvLayer& l) {
    cv::dnn::LayerParams lp;
    lp.set("kernel_size", l.k);
    lp.set("pad", l.k / 2);
    lp.set("stride", 1);
    lp.set("num_output", l.out_c);
    lp.set("bias_term", true);
    const std::vector<float> w = unet::weights_oihw(l);
    const std::vector<float> b = unet::bias(l);
    const int dims[] = {l.out_c, l.in_c, l.k, l.k};
    lp.blobs.push_back(cv::Mat(4, dims, CV_32F, const_cast<float*>(w.data())).clone());
    lp.blobs.push_back(cv::Mat(l.out_c, 1, CV_32F, const_cast<float*>(b.data())).clone());
    Value y{add(l.name, "Convolution", lp, x), l.out_c};
    if (!l.relu) return y;
    cv::dnn::LayerParams relu;
    return Value{add(l.name + "/relu", "ReLU", relu, y), l.out_c};
  }
  Value pool(Value x) {
    cv::dnn::LayerParams lp;
    lp.set("pool", "max");
    lp.set("kernel_size", 2);
    lp.set("stride", 2);
    return Value{add("pool" + std::to_string(counter++), "Pooling", lp, x), x.channels};
  }
  Value up_concat(Value x, Value skip) {
    cv::dnn::LayerParams lp;
    lp.set("interpolation", "nearest");
    lp.set("zoom_factor", 2);
    const std::string n = std::to_string(counter++);
    Value up{add("up" + n, "Resize", lp, x), x.channels};
    cv::dnn::LayerParams cat;
    cat.set("axis", 1);
    const int id = add("concat" + n, "Concat", cat, up);
    net.connect(skip.id, 0, id, 1);
    return Value{id, x.channels + skip.channels};
  }
  void output(Value) {}
};

}  // namespace

double process_cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return 1e3 * static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-3 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <output.f32> <runs>\n", argv[0]);
    return 2;
  }
  const int runs = std::max(1, std::atoi(argv[2]));
  OpenCvBuilder b;
  unet::build(b);
  b.net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  b.net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);

  const std::vector<float> nchw =
      unet::nhwc_to_nchw(unet::input_nhwc(), unet::kHeight, unet::kWidth, unet::kInChannels);
  const int in_dims[] = {1, unet::kInChannels, unet::kHeight, unet::kWidth};
  cv::Mat blob(4, in_dims, CV_32F, const_cast<float*>(nchw.data()));
  b.net.setInput(blob, "data");
  cv::Mat out = b.net.forward(b.last).clone();  // first run: allocation and set-up
  std::vector<double> ms;
  const double cpu0 = process_cpu_ms();
  for (int i = 0; i < runs; ++i) {
    const int64_t t0 = cv::getTickCount();
    b.net.setInput(blob, "data");
    out = b.net.forward(b.last);
    ms.push_back(1e3 * static_cast<double>(cv::getTickCount() - t0) / cv::getTickFrequency());
  }
  const double cpu = (process_cpu_ms() - cpu0) / runs;
  std::sort(ms.begin(), ms.end());
  const float* p = out.ptr<float>();
  if (!unet::write_floats(argv[1], std::vector<float>(p, p + out.total()))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("opencv_ms %.3f %.3f cpu_ms %.3f threads %d\n", ms[ms.size() / 2], ms.front(), cpu,
              cv::getNumThreads());
  return 0;
}
