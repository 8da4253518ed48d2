// The committed default sky model, run through the C API: its mask of a
// mirrored panorama must be exactly the mirrored mask (the graph averages the
// view with its mirror view), at the working size and at an odd size, which
// the sky graph also takes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "inference/network_contract.h"
#include "loaded_model.h"
#include "tensorflow/c/c_api.h"

namespace {

using Image = std::vector<float>;  // NHWC, batch 1

struct Size {
  int64_t rows, cols, channels;
};

Image mirrored(const Image& image, Size s) {
  Image out(image.size());
  for (int64_t r = 0; r < s.rows; ++r) {
    for (int64_t c = 0; c < s.cols; ++c) {
      for (int64_t k = 0; k < s.channels; ++k) {
        out[(r * s.cols + (s.cols - 1 - c)) * s.channels + k] = image[(r * s.cols + c) * s.channels + k];
      }
    }
  }
  return out;
}

Image run_sky(const quarrow::LoadedModel& model, const Image& input, Size s) {
  const int64_t dims[] = {1, s.rows, s.cols, s.channels};
  TF_Tensor* tensor = TF_AllocateTensor(TF_FLOAT, dims, 4, input.size() * sizeof(float));
  std::copy(input.begin(), input.end(), static_cast<float*>(TF_TensorData(tensor)));
  TF_Output in, out;
  std::string error;
  EXPECT_TRUE(model.find_output(quarrow::kSegmentationInputOperation, &in, &error)) << error;
  EXPECT_TRUE(model.find_output(quarrow::kOutputOperation, &out, &error)) << error;
  std::vector<TF_Tensor*> outputs;
  const bool ran = model.run({in}, {tensor}, {out}, &outputs, &error);
  TF_DeleteTensor(tensor);
  if (!ran) {
    ADD_FAILURE() << error;
    return {};
  }
  const auto* data = static_cast<const float*>(TF_TensorData(outputs[0]));
  Image result(data, data + TF_TensorByteSize(outputs[0]) / sizeof(float));
  TF_DeleteTensor(outputs[0]);
  return result;
}

TEST(DefaultSkyModel, MaskOfAMirroredImageIsTheMirroredMask) {
  const quarrow::LoadedModel model(std::string(QUARROW_DEFAULT_MODELS) + "/" + quarrow::kSkyModelFolder);
  ASSERT_TRUE(model.loaded()) << model.error();
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (const Size s : {Size{quarrow::kNetworkRows, quarrow::kNetworkCols, quarrow::kNetworkChannels},
                       Size{37, 61, quarrow::kNetworkChannels}}) {
    Image image(static_cast<size_t>(s.rows * s.cols * s.channels));
    for (float& v : image) v = noise(rng);
    const Image direct = run_sky(model, image, s);
    const Image of_mirror = run_sky(model, mirrored(image, s), s);
    ASSERT_EQ(direct.size(), static_cast<size_t>(s.rows * s.cols));
    ASSERT_EQ(of_mirror.size(), direct.size());
    const Image expected = mirrored(direct, Size{s.rows, s.cols, 1});
    size_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) differing += of_mirror[i] != expected[i];
    EXPECT_EQ(differing, 0u) << s.rows << " x " << s.cols;
  }
}

}  // namespace
