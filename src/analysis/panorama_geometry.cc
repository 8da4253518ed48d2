#include "analysis/panorama_geometry.h"

#include <algorithm>
#include <cmath>

namespace quarrow {

namespace {

constexpr double kQuarterTurn = 0.7853981633974483;  // pi / 4
constexpr double kFullTurn = 6.283185307179586;      // 2 pi

cv::Matx33d rotation_about_y(double angle) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return cv::Matx33d(c, 0.0, s,  //
                     0.0, 1.0, 0.0,  //
                     -s, 0.0, c);
}

cv::Matx33d rotation_about_x(double angle) {
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return cv::Matx33d(1.0, 0.0, 0.0,  //
                     0.0, c, -s,  //
                     0.0, s, c);
}

}  // namespace

PinholeCamera::PinholeCamera(double focal_length, double cx, double cy)
    : intrinsics(focal_length, 0.0, cx,  //
                 0.0, focal_length, cy,  //
                 0.0, 0.0, 1.0),
      homogeneous_intrinsics(focal_length, 0.0, cx, 0.0,  //
                             0.0, focal_length, cy, 0.0,  //
                             0.0, 0.0, 1.0, 0.0,  //
                             0.0, 0.0, 0.0, 1.0) {
  cv::Matx44d inverse;
  if (cv::invert(homogeneous_intrinsics, inverse, cv::DECOMP_SVD) == 0.0) {
    inverse = cv::Matx44d::zeros();
  }
  inverse_intrinsics = inverse.get_minor<3, 3>(0, 0);
}

// The focal length is searched in whole steps rather than computed: it is the
// first whole value whose half view angle is not above 45 degrees. That
// depends on atan2(1, 1) equalling kQuarterTurn exactly (it does, so side 128
// stops at 64, not 65); the sky ratio samples through this camera.
PinholeCamera make_face_camera(int side) {
  const float side_f = static_cast<float>(side);
  float focal = 1.0f;
  while (std::atan2(static_cast<double>(side_f / (focal + focal)), 1.0) > kQuarterTurn) {
    focal += 1.0f;
  }
  const double centre = static_cast<double>(side / 2);
  return PinholeCamera(static_cast<double>(focal), centre, centre);
}

std::array<cv::Matx33d, 6> cube_face_rotations() {
  return {rotation_about_y(0.0),
          rotation_about_y(-1.5707963267948966),
          rotation_about_y(-3.141592653589793),
          rotation_about_y(-4.71238898038469),
          rotation_about_x(-1.5707963267948966),
          rotation_about_x(1.5707963267948966)};
}

cv::Vec3d pixel_to_ray(const PinholeCamera& camera, const cv::Point2d& pixel) {
  return camera.inverse_intrinsics * cv::Vec3d(pixel.x, pixel.y, 1.0);
}

cv::Point2d direction_to_equirect(std::uint32_t width, std::uint32_t height,
                                  const cv::Vec3d& direction) {
  const double longitude = std::atan2(direction[0], direction[2]);
  const double latitude = std::atan2(-direction[1], std::hypot(direction[0], direction[2]));
  return angles_to_equirect(width, height, longitude / kFullTurn, -latitude / kFullTurn);
}

cv::Point2d angles_to_equirect(std::uint32_t width, std::uint32_t height, double a,
                               double b) {
  const double scale = static_cast<double>(std::max(width, height));
  return cv::Point2d(scale * a + static_cast<double>(width) * 0.5,
                     scale * b + static_cast<double>(height) * 0.5);
}

}  // namespace quarrow
