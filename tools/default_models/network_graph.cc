#include "network_graph.h"

#include <map>
#include <string>
#include <vector>

#include "inference/network_contract.h"

namespace quarrow::default_models {
namespace {

constexpr int64_t kRows = kNetworkRows;
constexpr int64_t kCols = kNetworkCols;

class GraphMaker {
 public:
  GraphMaker(const NetworkWeights& weights, qsm::ModelBuilder* builder)
      : weights_(weights), b_(*builder) {}

  // relu(conv(x) + bias) with the layer's "kernel" and "bias" variables; the
  // head layer skips the ReLU.
  qsm::Output conv(const std::string& layer, qsm::Output x, bool relu) {
    const qsm::Output kernel = variable(layer + "/kernel");
    const qsm::Output bias = variable(layer + "/bias");
    qsm::Output y = b_.op("Conv2D", {x, kernel},
                          {{"strides", qsm::ints({1, 1, 1, 1})}, {"padding", qsm::str("SAME")}},
                          scope_ + layer + "/Conv2D");
    y = b_.op("BiasAdd", {y, bias}, {}, scope_ + layer + "/BiasAdd");
    return relu ? b_.op("Relu", {y}, {}, scope_ + layer + "/Relu") : y;
  }

  qsm::Output pool(qsm::Output x) {
    return b_.op("MaxPool", {x},
                 {{"ksize", qsm::ints({1, 2, 2, 1})},
                  {"strides", qsm::ints({1, 2, 2, 1})},
                  {"padding", qsm::str("SAME")}});
  }

  // [height, width] of an NHWC tensor, computed at run time.
  qsm::Output spatial_size(qsm::Output x) {
    const qsm::Output shape = b_.op("Shape", {x}, {{"out_type", qsm::type(TF_INT32)}});
    return b_.op("StridedSlice",
                 {shape, b_.constant_ints({1}), b_.constant_ints({3}), b_.constant_ints({1})});
  }

  // Nearest upsampling of `x` to the size of `skip`, then concatenation on channels.
  qsm::Output up_concat(qsm::Output x, qsm::Output skip) {
    const qsm::Output up = b_.op("ResizeNearestNeighbor", {x, spatial_size(skip)});
    return b_.op("ConcatV2", {up, skip, b_.constant_ints({3})});
  }

  qsm::Output body(qsm::Output x) {
    const qsm::Output e0 = conv("e0", x, true);
    const qsm::Output e1 = conv("e1", pool(e0), true);
    const qsm::Output e2 = conv("e2", pool(e1), true);
    const qsm::Output e3 = conv("e3", pool(e2), true);
    const qsm::Output e4 = conv("e4b", conv("e4a", pool(e3), true), true);
    const qsm::Output d3 = conv("d3", up_concat(e4, e3), true);
    const qsm::Output d2 = conv("d2", up_concat(d3, e2), true);
    const qsm::Output d1 = conv("d1", up_concat(d2, e1), true);
    const qsm::Output z = conv("head", d1, false);
    return b_.op("ResizeBilinear", {z, spatial_size(x)},
                 {{"half_pixel_centers", qsm::boolean(true)}});
  }

  // The mean of body(x) and of the body of x's mirror image mirrored back, so
  // that the result of a mirrored image is exactly the mirrored result.
  qsm::Output mirrored_body(qsm::Output x) {
    const qsm::Output width_axis = b_.constant_ints({2});
    const qsm::Output direct = body(x);
    const qsm::Output mirrored = b_.op("ReverseV2", {x, width_axis});
    scope_ = "mirror/";
    const qsm::Output back = b_.op("ReverseV2", {body(mirrored), width_axis});
    scope_.clear();
    return b_.op("Mul", {b_.op("AddV2", {direct, back}), b_.constant(0.5f)});
  }

  qsm::Output prior() {
    return b_.constant(qsm::TensorValue::floats(weights_.prior.shape, weights_.prior.values),
                       "prior");
  }

  const qtf::Status& status() const { return status_; }

 private:
  // One read of each variable, shared by every pass of the body.
  qsm::Output variable(const std::string& name) {
    const auto read = reads_.find(name);
    if (read != reads_.end()) return read->second;
    const auto it = weights_.tensors.find(name);
    if (it == weights_.tensors.end()) {
      if (status_.is_ok()) status_ = qtf::invalid_argument("weights lack " + name);
      return qsm::Output();
    }
    return reads_[name] = b_.variable(name, it->second.shape, it->second.values);
  }

  const NetworkWeights& weights_;
  qsm::ModelBuilder& b_;
  std::map<std::string, qsm::Output> reads_;
  std::string scope_;  // prefix of the layer nodes' names ("mirror/" in the second pass)
  qtf::Status status_;
};

bool prior_fits(const NetworkWeights& w) {
  return w.prior.shape == std::vector<int64_t>{1, kRows, 1, 1};
}

}  // namespace

qtf::Status build_network(const NetworkWeights& weights, qsm::ModelBuilder* builder) {
  qsm::ModelBuilder& b = *builder;
  GraphMaker g(weights, builder);
  if (weights.kind == "sky") {
    const qsm::Output x = b.input(kSegmentationInputName, TF_FLOAT, {1, -1, -1, kNetworkChannels});
    b.output("output_0", b.op("Sigmoid", {g.mirrored_body(x)}), {1, -1, -1, 1});
  } else if (weights.kind == "ground") {
    if (!prior_fits(weights)) return qtf::invalid_argument("ground prior must be [1,256,1,1]");
    const qsm::Output x = b.input(kSegmentationInputName, TF_FLOAT, {1, kRows, kCols, kNetworkChannels});
    const qsm::Output logits = b.op("AddV2", {g.body(x), g.prior()});
    b.output("output_0", b.op("Sigmoid", {logits}), {1, kRows, kCols, 1});
  } else if (weights.kind == "depth") {
    if (!prior_fits(weights)) return qtf::invalid_argument("depth prior must be [1,256,1,1]");
    if (!(weights.depth_k > 0.0f && weights.depth_k < 1.0f)) {
      return qtf::invalid_argument("depth_k must lie between 0 and 1");
    }
    const qsm::Output x = b.input(kDepthInputName, TF_FLOAT, {1, kRows, kCols, kNetworkChannels});
    const qsm::Output kt = b.op("Mul", {b.constant(weights.depth_k), b.op("Tanh", {g.body(x)})});
    const qsm::Output one = b.constant(1.0f);
    const qsm::Output factor =
        b.op("RealDiv", {b.op("AddV2", {one, kt}), b.op("Sub", {one, kt})});
    const qsm::Output depth = b.op("Mul", {g.prior(), factor});
    const qsm::Output nchw = b.op(
        "Reshape", {depth, b.constant_ints({1, 1, static_cast<int32_t>(kRows),
                                            static_cast<int32_t>(kCols)})});
    b.output("output_0", nchw, {1, 1, kRows, kCols});
  } else {
    return qtf::invalid_argument("unknown network kind \"" + weights.kind + "\"");
  }
  if (!g.status().is_ok()) return g.status();
  return b.status();
}

}  // namespace quarrow::default_models
