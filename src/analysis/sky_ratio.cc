#include "analysis/sky_ratio.h"

#include <cstdint>

#include "analysis/panorama_geometry.h"

namespace quarrow {

namespace {

constexpr int kZenithFace = 4;  // the cube face looking straight up

int clamp_index(int value, int size) {
  if (value > size - 1) return size - 1;
  if (value < 0) return 0;
  return value;
}

}  // namespace

float zenith_sky_ratio(const cv::Mat& sky_mask) {
  CV_Assert(sky_mask.type() == CV_8UC1);
  // The lookup assumes rows without gaps; a region of a wider matrix is read
  // from a compact copy.
  const cv::Mat mask = sky_mask.isContinuous() ? sky_mask : sky_mask.clone();
  const int width = mask.cols;
  const int height = mask.rows;
  const int side = width / 4;
  if (side == 0 || height == 0) {
    return 0.0f;
  }

  // The ratio is stored in outdoor_flag.json, decides indoor or outdoor at
  // 50, and is compared bit for bit with earlier runs and with other builds
  // of this analysis. So the arithmetic is fixed, not only its value: the step
  // is 100 / side^2 rounded once to single precision, and the sum adds it one
  // hit at a time in single precision, face row by face row. A double sum, a
  // count times the step, or another visiting order each give other last bits
  // (and 8192 hits of 16384 must give exactly 50.0, which is indoor).
  const float increment =
      static_cast<float>(100.0 / static_cast<double>(static_cast<float>(side * side)));
  const PinholeCamera camera = make_face_camera(side);
  const cv::Matx33d to_world = cube_face_rotations()[kZenithFace].t();

  float sum = 0.0f;
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      const cv::Vec3d ray = pixel_to_ray(camera, cv::Point2d(j, i));
      const cv::Vec3d direction = to_world * ray;
      const cv::Point2d position = direction_to_equirect(
          static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), direction);
      const int x = clamp_index(static_cast<int>(position.x), width);
      const int y = clamp_index(static_cast<int>(position.y), height);
      if (mask_value_at(mask.data, width, x, y) != 0) {
        sum += increment;
      }
    }
  }
  return sum;
}

}  // namespace quarrow
