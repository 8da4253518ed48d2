// Channel-driven test models for the quarrow network contract.
#include "test_models.h"

#include <fstream>
#include <sstream>

#include "savedmodel_writer.h"

namespace qsm {

namespace {

constexpr int64_t kRows = quarrow::kNetworkRows;
constexpr int64_t kCols = quarrow::kNetworkCols;

// x[..., channel] as a [1,H,W,1] tensor, for any H and W.
Output channel_of(ModelBuilder& b, Output x, int channel) {
  Output begin = b.constant(TensorValue::int32s({4}, {0, 0, 0, channel}), "channel/begin");
  Output size = b.constant(TensorValue::int32s({4}, {-1, -1, -1, 1}), "channel/size");
  return b.op("Slice", {x, begin, size}, {}, "channel");
}

qtf::Status check_channel(int channel) {
  if (channel < 0 || channel > 2) {
    return qtf::invalid_argument("input channel " + std::to_string(channel) + " is not 0, 1 or 2");
  }
  return qtf::Status::ok();
}

}  // namespace

qtf::Status write_segmentation_model(const std::string& dir, const SegmentationModelSpec& params) {
  QTF_RETURN_IF_ERROR(check_channel(params.channel));
  ModelBuilder b;
  Output x = b.input(params.input_name, TF_FLOAT, {1, -1, -1, 3});
  Output score = channel_of(b, x, params.channel);
  // The affine map is left out when it is the identity, so scores equal the
  // channel bit for bit.
  if (params.scale != 1.0f) score = b.op("Mul", {score, b.constant(params.scale)}, {}, "scale");
  if (params.offset != 0.0f) score = b.op("AddV2", {score, b.constant(params.offset)}, {}, "offset");
  b.output("output_0", score, {1, -1, -1, 1});
  return b.save(dir);
}

qtf::Status write_depth_model(const std::string& dir, const DepthModelSpec& params) {
  QTF_RETURN_IF_ERROR(check_channel(params.channel));
  ModelBuilder b;
  Output x = b.input(params.input_name, TF_FLOAT, {1, kRows, kCols, 3});
  Output depth = channel_of(b, x, params.channel);
  const TensorValue shape = TensorValue::int32s({4}, {1, 1, quarrow::kNetworkRows, quarrow::kNetworkCols});
  depth = b.op("Reshape", {depth, b.constant(shape, "depth/shape")}, {}, "depth");
  b.output("output_0", depth, {1, 1, kRows, kCols});
  return b.save(dir);
}

qtf::Status write_failing_model(const std::string& dir, const std::string& input_name) {
  ModelBuilder b;
  Output x = b.input(input_name, TF_FLOAT, {1, -1, -1, 3});
  // 1000003 elements: 3·H·W never equals it (1000003 is not a multiple of 3).
  Output y = b.op("Reshape", {x, b.constant(TensorValue::int32s({1}, {1000003}), "impossible/shape")},
                  {}, "impossible");
  b.output("output_0", y);
  return b.save(dir);
}

qtf::Status write_model_without_contract_input(const std::string& dir) {
  SegmentationModelSpec params;
  params.input_name = "image";
  return write_segmentation_model(dir, params);
}

namespace {

// Moves the serving call to `name` (op PartitionedCall when so named), and
// the node of that name, if any, out of its way.
void move_serving_call(tensorflow::SavedModel* model, const std::string& name) {
  tensorflow::MetaGraphDef& meta = *model->mutable_meta_graphs(0);
  auto rename_refs = [&meta](const std::string& from, const std::string& to) {
    for (auto& n : *meta.mutable_graph_def()->mutable_node()) {
      if (n.name() == from) n.set_name(to);
      for (auto& in : *n.mutable_input()) {
        if (in == from || in.rfind(from + ":", 0) == 0) in = to + in.substr(from.size());
      }
    }
    tensorflow::SaverDef& saver = *meta.mutable_saver_def();
    if (saver.save_tensor_name().rfind(from + ":", 0) == 0) {
      saver.set_save_tensor_name(to + saver.save_tensor_name().substr(from.size()));
    }
    if (saver.restore_op_name() == from) saver.set_restore_op_name(to);
    for (auto& [key, sig] : *meta.mutable_signature_def()) {
      for (auto& [out_key, info] : *sig.mutable_outputs()) {
        if (info.name().rfind(from + ":", 0) == 0) info.set_name(to + info.name().substr(from.size()));
      }
    }
  };
  if (name == "StatefulPartitionedCall") return;
  rename_refs(name, name + "_moved");
  rename_refs("StatefulPartitionedCall", name);
  if (name == "PartitionedCall") {
    for (auto& n : *meta.mutable_graph_def()->mutable_node()) {
      if (n.name() == name) n.set_op("PartitionedCall");
    }
  }
}

}  // namespace

qtf::Status write_foreign_model(const std::string& dir, const ForeignModelSpec& params) {
  const int64_t c = params.channels;
  if (params.weights.size() != static_cast<size_t>(3 * c) || params.bias.size() != static_cast<size_t>(c)) {
    return qtf::invalid_argument("foreign model: weights must be 3 x channels and bias channels long");
  }
  ModelBuilder b;
  Output x = b.input(params.input_name, TF_FLOAT, params.nchw_input ? Shape{-1, 3, kRows, kCols} : Shape{-1, kRows, kCols, 3});
  if (params.nchw_input) x = b.op("Transpose", {x, b.constant_ints({0, 2, 3, 1})}, {}, "to_nhwc");
  Output w = b.variable("conv/kernel", {1, 1, 3, c}, params.weights);
  Output y = b.op("Conv2D", {x, w}, {{"strides", ints({1, 1, 1, 1})}, {"padding", str("VALID")}}, "conv");
  y = b.op("BiasAdd", {y, b.variable("conv/bias", {c}, params.bias)}, {}, "bias");
  if (params.nchw_output) y = b.op("Transpose", {y, b.constant_ints({0, 3, 1, 2})}, {}, "to_nchw");
  const Shape shape = params.nchw_output ? Shape{-1, c, kRows, kCols} : Shape{-1, kRows, kCols, c};
  if (params.output_shape_known) b.output(params.output_name, y, shape);
  else b.output(params.output_name, y);
  if (params.second_output) {
    Output first = b.op("Slice", {x, b.constant_ints({0, 0, 0, 0}), b.constant_ints({-1, -1, -1, 1})}, {}, "aux");
    b.output("aux", first, {-1, kRows, kCols, 1});
  }
  QTF_RETURN_IF_ERROR(b.save(dir));
  if (params.call_name == quarrow::kOutputOperation) return qtf::Status::ok();
  // Rewrite the saved graph with the serving call where the exporter puts it.
  std::ifstream in(dir + "/saved_model.pb", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  tensorflow::SavedModel model;
  if (!model.ParseFromString(bytes.str())) return qtf::internal_error("foreign model: cannot reread " + dir);
  move_serving_call(&model, params.call_name);
  std::ofstream out(dir + "/saved_model.pb", std::ios::binary | std::ios::trunc);
  out << model.SerializeAsString();
  out.close();
  return out ? qtf::Status::ok() : qtf::Status(TF_PERMISSION_DENIED, "cannot write " + dir);
}

qtf::Status write_model_folder(const std::string& folder, const ModelFolderSpec& params) {
  const std::string root = folder + "/";
  QTF_RETURN_IF_ERROR(write_segmentation_model(root + quarrow::kSkyModelFolder, params.sky));
  QTF_RETURN_IF_ERROR(write_segmentation_model(root + quarrow::kGroundModelFolder, params.ground));
  QTF_RETURN_IF_ERROR(write_depth_model(root + quarrow::kIndoorDepthModelFolder, params.indoor_depth));
  return write_depth_model(root + quarrow::kOutdoorDepthModelFolder, params.outdoor_depth);
}

}  // namespace qsm
