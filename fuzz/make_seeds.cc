// Writes the seed corpora for the two fuzzers: small SavedModels from the
// project's writer (in the sectioned input layout) plus, when given, a real
// SavedModel folder such as the TensorFlow-written half_plus_two fixture.
//
//   make_seeds <saved_model_corpus_dir> <checkpoint_corpus_dir> [model_folder...]
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "savedmodel_writer.h"

namespace {

struct Seed {
  std::string name;
  std::string saved_model, index, data;
};

bool write_seed(const std::string& saved_model_dir, const std::string& checkpoint_dir, const Seed& s) {
  return qfuzz::write_bytes(saved_model_dir + "/" + s.name,
                            qfuzz::join_sections({s.saved_model, s.index, s.data})) &&
         qfuzz::write_bytes(saved_model_dir + "/" + s.name + "-no-variables", s.saved_model) &&
         qfuzz::write_bytes(checkpoint_dir + "/" + s.name,
                            qfuzz::join_sections({s.index, s.data}));
}

bool from_builder(const std::string& name, const qsm::ModelBuilder& b, Seed* out) {
  tensorflow::SavedModel model;
  const qtf::Status s = b.build(&model, &out->index, &out->data);
  if (!s.is_ok()) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), s.message().c_str());
    return false;
  }
  out->name = name;
  return model.SerializeToString(&out->saved_model);
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<Seed> writer_seeds() {
  std::vector<Seed> seeds;
  Seed seed;
  {
    qsm::ModelBuilder b;
    qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
    qsm::Output w = b.variable("conv/kernel", {1, 1, 3, 2}, {1, 0, 0, 1, 0.5f, -0.5f});
    qsm::Output bias = b.variable("conv/bias", {2}, {0.25f, -1});
    qsm::Output y = b.op("Conv2D", {x, w},
                         {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}});
    y = b.op("BiasAdd", {y, bias});
    y = b.op("Relu", {y});
    b.output("output_0", y, {1, -1, -1, 2});
    if (from_builder("conv_relu", b, &seed)) seeds.push_back(seed);
  }
  {
    qsm::ModelBuilder b;
    qsm::Output x = b.input("input", TF_FLOAT, {1, 4, 4, 3});
    qsm::Output scale = b.variable("scale", {}, {2.0f});
    qsm::Output y = b.op("Mul", {x, scale});
    y = b.op("Sigmoid", {y});
    qsm::Output shape = b.constant_ints({1, 16, 3});
    b.output("output_0", b.op("Reshape", {y, shape}));
    b.output("output_1", b.op("MaxPool", {x}, {{"ksize", qsm::ints({1, 2, 2, 1})},
                                               {"strides", qsm::ints({1, 2, 2, 1})},
                                               {"padding", qsm::str("VALID")}}));
    if (from_builder("mul_pool", b, &seed)) seeds.push_back(seed);
  }
  {
    qsm::ModelBuilder b;
    qsm::Output x = b.input("input", TF_FLOAT, {1, -1, -1, 3});
    qsm::Output table = b.variable("table", qsm::TensorValue::int32s({2, 2}, {1, 2, 3, 4}));
    qsm::Output size = b.op("Cast", {b.op("Shape", {table})}, {{"DstT", qsm::type(TF_INT32)}});
    b.output("output_0", b.op("ResizeBilinear", {x, size}));
    if (from_builder("resize_int_variable", b, &seed)) seeds.push_back(seed);
  }
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <saved_model_corpus> <checkpoint_corpus> [model_folder...]\n", argv[0]);
    return 2;
  }
  int written = 0;
  for (const Seed& s : writer_seeds()) written += write_seed(argv[1], argv[2], s) ? 1 : 0;
  for (int i = 3; i < argc; ++i) {
    const std::string dir = argv[i];
    Seed s;
    s.name = dir.substr(dir.find_last_of('/') + 1);
    s.saved_model = slurp(dir + "/saved_model.pb");
    s.index = slurp(dir + "/variables/variables.index");
    s.data = slurp(dir + "/variables/variables.data-00000-of-00001");
    if (s.saved_model.empty()) continue;
    written += write_seed(argv[1], argv[2], s) ? 1 : 0;
  }
  std::printf("%d seeds written\n", written);
  return written > 0 ? 0 : 1;
}
