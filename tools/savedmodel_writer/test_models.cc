// Channel-driven test models for the quarrow network contract.
#include "test_models.h"

#include "savedmodel_writer.h"

namespace qsm {

namespace {

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
  Output x = b.input(params.input_name, TF_FLOAT, {1, 256, 512, 3});
  Output depth = channel_of(b, x, params.channel);
  depth = b.op("Reshape", {depth, b.constant(TensorValue::int32s({4}, {1, 1, 256, 512}), "depth/shape")},
               {}, "depth");
  b.output("output_0", depth, {1, 1, 256, 512});
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

qtf::Status write_model_folder(const std::string& folder, const ModelFolderSpec& params) {
  QTF_RETURN_IF_ERROR(write_segmentation_model(folder + "/sky_segm_model", params.sky));
  QTF_RETURN_IF_ERROR(write_segmentation_model(folder + "/ground_segm_model", params.ground));
  QTF_RETURN_IF_ERROR(write_depth_model(folder + "/indoor_depth_model", params.indoor_depth));
  return write_depth_model(folder + "/outdoor_depth_model", params.outdoor_depth);
}

}  // namespace qsm
