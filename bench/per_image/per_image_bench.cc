// Time per image, step by step: decode, preparation, sky network, ratio,
// refinement and mask write; then ground network, depth network, finishing,
// trimming and depth write; and the whole per-image step, for an outdoor and an
// indoor panorama.
//
// Two sets of writer-made models: "channel" (each output is one input channel,
// so the figure is the cost of the exchange and the runtime around a network)
// and "conv" (two 3x3 convolutions with 16 hidden channels, a small but real
// network).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tensorflow/c/c_api.h>

#include "analysis/depth_trimming.h"
#include "analysis/image_preparation.h"
#include "analysis/output_files.h"
#include "analysis/process_image.h"
#include "analysis/sky_mask_refinement.h"
#include "analysis/sky_ratio.h"
#include "inference/depth_map_finishing.h"
#include "inference/depth_runners.h"
#include "inference/ground_segmentation.h"
#include "inference/network_contract.h"
#include "inference/sky_segmentation.h"
#include "loaded_model.h"
#include "savedmodel_writer.h"
#include "test_models.h"

namespace quarrow {
namespace {

enum ModelSet { kChannelModels = 0, kConvModels = 1 };
enum Scene { kOutdoor = 0, kIndoor = 1 };

std::vector<float> random_values(std::size_t count, float scale, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> value(-scale, scale);
  std::vector<float> values(count);
  for (float& v : values) v = value(generator);
  return values;
}

// Conv2D 3x3 (3 -> 16) + bias + ReLU, Conv2D 3x3 (16 -> 1), then a sigmoid
// score [1, H, W, 1] or a depth reshaped to [1, 1, 256, 512].
qtf::Status write_conv_model(const std::string& dir, const std::string& input_name, bool depth) {
  qsm::ModelBuilder b;
  const qsm::Attrs conv{{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}};
  qsm::Output x = b.input(input_name, TF_FLOAT, depth ? qsm::Shape{1, kNetworkRows, kNetworkCols, kNetworkChannels}
                                                      : qsm::Shape{1, -1, -1, 3});
  qsm::Output y = b.op("Conv2D", {x, b.variable("conv1/kernel", {3, 3, 3, 16}, random_values(432, 0.3f, 1))}, conv);
  y = b.op("BiasAdd", {y, b.variable("conv1/bias", {16}, random_values(16, 0.1f, 2))});
  y = b.op("Relu", {y});
  y = b.op("Conv2D", {y, b.variable("conv2/kernel", {3, 3, 16, 1}, random_values(144, 0.3f, 3))}, conv);
  if (depth) {
    y = b.op("Reshape", {y, b.constant_ints({1, 1, kNetworkRows, kNetworkCols})});
    b.output("output_0", y, {1, 1, kNetworkRows, kNetworkCols});
  } else {
    b.output("output_0", b.op("Sigmoid", {y}), {1, -1, -1, 1});
  }
  return b.save(dir);
}

// A model the benchmark cannot do without: a failed load ends the process.
std::unique_ptr<LoadedModel> load_or_exit(const std::string& dir) {
  auto model = std::make_unique<LoadedModel>(dir);
  if (!model->loaded()) {
    std::fprintf(stderr, "cannot load %s: %s\n", dir.c_str(), TF_Message(model->status()));
    std::exit(1);
  }
  return model;
}

struct ModelFolder {
  std::unique_ptr<LoadedModel> sky, ground, indoor_depth, outdoor_depth;
};

// Everything the benchmarks share, made once.
struct Workbench {
  std::filesystem::path folder;
  ModelFolder models[2];
  std::string image_paths[2];

  Workbench() {
    folder = std::filesystem::temp_directory_path() / ("quarrow_per_image_bench_" + std::to_string(::getpid()));
    for (const char* sub : {"images", "segm", "depthmap", "channel", "conv"}) {
      std::filesystem::create_directories(folder / sub);
    }
    check(qsm::write_model_folder((folder / "channel").string()));
    const std::string conv = (folder / "conv").string();
    check(write_conv_model(conv + "/" + kSkyModelFolder, kSegmentationInputName, false));
    check(write_conv_model(conv + "/" + kGroundModelFolder, kSegmentationInputName, false));
    check(write_conv_model(conv + "/" + kIndoorDepthModelFolder, kDepthInputName, true));
    check(write_conv_model(conv + "/" + kOutdoorDepthModelFolder, kDepthInputName, true));
    for (int set = 0; set < 2; ++set) {
      const std::string base = (folder / (set == kChannelModels ? "channel" : "conv")).string();
      models[set].sky = load_or_exit(base + "/" + kSkyModelFolder);
      models[set].ground = load_or_exit(base + "/" + kGroundModelFolder);
      models[set].indoor_depth = load_or_exit(base + "/" + kIndoorDepthModelFolder);
      models[set].outdoor_depth = load_or_exit(base + "/" + kOutdoorDepthModelFolder);
    }
    image_paths[kOutdoor] = write_panorama("outdoor.jpg", true);
    image_paths[kIndoor] = write_panorama("indoor.jpg", false);
  }
  ~Workbench() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  static void check(const qtf::Status& status) {
    if (!status.is_ok()) {
      std::fprintf(stderr, "cannot write a model\n");
      std::exit(1);
    }
  }

  // A 4096 x 2048 JPEG (so preparation takes both resizes): blue sky over a
  // textured red ground outdoors, a dim textured room indoors. With the channel
  // models a blue top half is sky (score = blue channel); with the conv models
  // the scene decision is whatever the random network says.
  std::string write_panorama(const std::string& name, bool outdoor) {
    cv::Mat image(2048, 4096, CV_8UC3);
    cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(60));
    if (outdoor) {
      image.rowRange(0, 1024) += cv::Scalar(190, 60, 20);
      image.rowRange(1024, 2048) += cv::Scalar(20, 40, 150);
    } else {
      image += cv::Scalar(30, 40, 50);
    }
    cv::GaussianBlur(image, image, cv::Size(5, 5), 0);
    const std::string path = (folder / "images" / name).string();
    cv::imwrite(path, image, {cv::IMWRITE_JPEG_QUALITY, 90});
    return path;
  }

  std::string segm() const { return (folder / "segm").string() + "/"; }
  std::string depthmap() const { return (folder / "depthmap").string() + "/"; }
};

Workbench& bench() {
  static Workbench instance;
  return instance;
}

// The matrices of one prepared image.
struct Prepared {
  cv::Mat panorama, net_input, depth_map, sky_mask;
};

Prepared prepared(Scene scene) {
  Prepared p;
  prepare_panorama(bench().image_paths[scene], p.panorama, p.net_input, p.depth_map, p.sky_mask);
  return p;
}

// A raw 0/1 sky mask as the sky network gives it for the scene.
cv::Mat raw_sky_mask(Scene scene, ModelSession& sky) {
  Prepared p = prepared(scene);
  run_sky_segmentation(sky.session, sky.graph, sky.status, p.net_input, p.sky_mask);
  return p.sky_mask;
}

void BM_Decode(benchmark::State& state) {
  const std::string& path = bench().image_paths[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_COLOR));
}

void BM_Preparation(benchmark::State& state) {
  const cv::Mat decoded = cv::imread(bench().image_paths[state.range(0)], cv::IMREAD_COLOR);
  Prepared p;
  for (auto _ : state) {
    p.panorama = decoded.clone();  // the preparation resizes in place
    prepare_decoded_panorama(p.panorama, p.net_input, p.depth_map, p.sky_mask);
  }
}

void BM_SkyNetwork(benchmark::State& state) {
  ModelSession& sky = bench().models[state.range(1)].sky->handles();
  Prepared p = prepared(static_cast<Scene>(state.range(0)));
  for (auto _ : state) run_sky_segmentation(sky.session, sky.graph, sky.status, p.net_input, p.sky_mask);
}

void BM_SkyRatio(benchmark::State& state) {
  const cv::Mat mask = raw_sky_mask(static_cast<Scene>(state.range(0)), bench().models[kChannelModels].sky->handles());
  for (auto _ : state) benchmark::DoNotOptimize(zenith_sky_ratio(mask));
}

void BM_Refinement(benchmark::State& state) {
  const cv::Mat raw = raw_sky_mask(static_cast<Scene>(state.range(0)), bench().models[kChannelModels].sky->handles());
  cv::Mat mask;
  for (auto _ : state) {
    raw.copyTo(mask);  // refinement works in place; the copy is 128 KiB
    refine_sky_mask(mask);
  }
}

void BM_MaskWrite(benchmark::State& state) {
  cv::Mat mask = raw_sky_mask(static_cast<Scene>(state.range(0)), bench().models[kChannelModels].sky->handles());
  refine_sky_mask(mask);
  const std::string path = sky_mask_file_path(bench().segm(), bench().image_paths[state.range(0)]);
  for (auto _ : state) write_sky_mask(path, mask);
}

void BM_GroundNetwork(benchmark::State& state) {
  ModelSession& ground = bench().models[state.range(0)].ground->handles();
  Prepared p = prepared(kOutdoor);
  cv::Mat ground_mask(p.net_input.size(), CV_8UC1);
  std::streambuf* console = std::cout.rdbuf(nullptr);  // keep the ratio lines off the report
  for (auto _ : state) {
    run_ground_segmentation(ground.session, ground.graph, ground.status, p.net_input, ground_mask);
  }
  std::cout.rdbuf(console);
}

void BM_DepthNetwork(benchmark::State& state) {
  const Scene scene = static_cast<Scene>(state.range(0));
  ModelFolder& models = bench().models[state.range(1)];
  Prepared p = prepared(scene);
  for (auto _ : state) {
    if (scene == kOutdoor) {
      ModelSession& m = models.outdoor_depth->handles();
      run_outdoor_depth(m.session, m.graph, m.status, p.net_input, p.depth_map);
    } else {
      ModelSession& m = models.indoor_depth->handles();
      run_indoor_depth(m.session, m.graph, m.status, p.net_input, p.depth_map);
    }
  }
}

// The scene's depth map as the channel depth model gives it (all rows).
cv::Mat depth_for(Scene scene) {
  Prepared p = prepared(scene);
  ModelSession& m = bench().models[kChannelModels].outdoor_depth->handles();
  run_outdoor_depth(m.session, m.graph, m.status, p.net_input, p.depth_map);
  return p.depth_map;
}

void BM_Finishing(benchmark::State& state) {
  cv::Mat depth = depth_for(static_cast<Scene>(state.range(0)));
  const bool both_bands = state.range(0) == kIndoor;
  for (auto _ : state) finish_depth_map(depth, both_bands);
}

void BM_Trimming(benchmark::State& state) {
  const cv::Mat original = depth_for(kOutdoor);
  cv::Mat depth;
  for (auto _ : state) {
    original.copyTo(depth);  // trimming works in place; the copy is 512 KiB
    trim_outdoor_depth(depth);
  }
}

void BM_DepthWrite(benchmark::State& state) {
  const cv::Mat depth = depth_for(static_cast<Scene>(state.range(0)));
  const std::string path = depth_map_file_path(bench().depthmap(), bench().image_paths[state.range(0)]);
  for (auto _ : state) write_depth_map(path, depth);
}

void BM_ProcessImage(benchmark::State& state) {
  ModelFolder& models = bench().models[state.range(1)];
  ImageRecord record;
  std::streambuf* console = std::cout.rdbuf(nullptr);
  for (auto _ : state) {
    process_image(record, bench().image_paths[state.range(0)], models.sky->handles(),
                  models.ground->handles(), models.indoor_depth->handles(),
                  models.outdoor_depth->handles(), bench().segm(), bench().depthmap());
  }
  std::cout.rdbuf(console);
  state.counters["outdoor"] = record.is_outdoor ? 1 : 0;
  state.counters["sky_ratio"] = record.sky_ratio;
}

// Arguments: scene (0 outdoor, 1 indoor); model set (0 channel, 1 conv).
BENCHMARK(BM_Decode)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Preparation)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkyNetwork)->ArgNames({"scene", "conv"})->Args({kOutdoor, kChannelModels})->Args({kOutdoor, kConvModels})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SkyRatio)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refinement)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaskWrite)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GroundNetwork)->ArgName("conv")->Arg(kChannelModels)->Arg(kConvModels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthNetwork)->ArgNames({"scene", "conv"})->Args({kOutdoor, kChannelModels})->Args({kOutdoor, kConvModels})->Args({kIndoor, kChannelModels})->Args({kIndoor, kConvModels})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Finishing)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Trimming)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DepthWrite)->ArgName("scene")->Arg(kOutdoor)->Arg(kIndoor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessImage)->ArgNames({"scene", "conv"})->Args({kOutdoor, kChannelModels})->Args({kIndoor, kChannelModels})->Args({kOutdoor, kConvModels})->Args({kIndoor, kConvModels})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quarrow

BENCHMARK_MAIN();
