#include "unet_savedmodel.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>

#include "savedmodel_writer.h"
#include "unet_layers.h"

namespace unet {
namespace {

using qsm::Output;

// Builder for unet::build writing TensorFlow ops (NHWC, HWIO filters).
struct WriterBuilder {
  using Value = Output;
  qsm::ModelBuilder b;

  Value input() { return b.input("input", TF_FLOAT, {1, kHeight, kWidth, kInChannels}); }
  Value conv(Value x, const ConvLayer& l) {
    const std::vector<float> w = oihw_to_hwio(weights_oihw(l), l);
    Output y = b.op("Conv2D", {x, b.variable(l.name + "/kernel", {l.k, l.k, l.in_c, l.out_c}, w)},
                    {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}},
                    l.name + "/Conv2D");
    y = b.op("BiasAdd", {y, b.variable(l.name + "/bias", {l.out_c}, bias(l))}, {}, l.name + "/BiasAdd");
    return l.relu ? b.op("Relu", {y}, {}, l.name + "/Relu") : y;
  }
  Value pool(Value x) {
    return b.op("MaxPool", {x},
                {{"ksize", qsm::ints({1, 2, 2, 1})}, {"strides", qsm::ints({1, 2, 2, 1})},
                 {"padding", qsm::str("VALID")}});
  }
  Value up_concat(Value x, Value skip) {
    // Sizes are static here: the skip's spatial size is twice x's.
    up_h = up_h == 0 ? kHeight / 4 : up_h * 2;
    Output up = b.op("ResizeNearestNeighbor", {x, b.constant_ints({up_h, up_h * 2})});
    return b.op("ConcatV2", {up, skip, b.constant_ints({3})});
  }
  void output(Value x) { b.output("output_0", x, {1, kHeight, kWidth, 1}); }
  int up_h = 0;
};

}  // namespace

std::string make_temp_dir() {
  char tmpl[] = "/tmp/unet_reference_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  return dir == nullptr ? "" : dir;
}

std::string write_savedmodel() {
  WriterBuilder w;
  build(w);
  const std::string dir = make_temp_dir();
  if (dir.empty() || !w.b.save(dir).is_ok()) return "";
  return dir;
}

Model::Model(const std::string& dir, const std::vector<int64_t>& dims, const std::vector<float>& input) {
  if (!model_.load(dir, quarrow::LoadOptions{}, &error_)) {
    error_ = TF_Message(model_.status());
    return;
  }
  input_ = TF_AllocateTensor(TF_FLOAT, dims.data(), static_cast<int>(dims.size()), input.size() * sizeof(float));
  std::memcpy(TF_TensorData(input_), input.data(), input.size() * sizeof(float));
  feed_ = TF_Output{TF_GraphOperationByName(model_.graph(), "serving_default_input"), 0};
  fetch_ = TF_Output{TF_GraphOperationByName(model_.graph(), "StatefulPartitionedCall"), 0};
}

Model::~Model() {
  if (input_ != nullptr) TF_DeleteTensor(input_);
}

bool Model::run(std::vector<float>* out) {
  TF_Tensor* result = nullptr;
  TF_Status* status = model_.status();
  TF_SessionRun(model_.session(), nullptr, &feed_, &input_, 1, &fetch_, &result, 1, nullptr, 0, nullptr, status);
  if (TF_GetCode(status) != TF_OK) {
    error_ = TF_Message(status);
    return false;
  }
  if (out != nullptr) {
    const auto* p = static_cast<const float*>(TF_TensorData(result));
    out->assign(p, p + TF_TensorByteSize(result) / sizeof(float));
  }
  TF_DeleteTensor(result);
  return true;
}

double Model::process_cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return 1e3 * static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-3 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

}  // namespace unet
