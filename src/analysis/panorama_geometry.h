// Spherical geometry between a pinhole view (one face of a cube map around
// the camera) and pixels of an equirectangular panorama.
//
// Frame: x right, y down, z forward; up is -y. Longitude atan2(x, z) is 0 at
// the panorama's centre column, latitude atan2(-y, hypot(x, z)) is +pi/2 at
// the zenith (row 0). All functions are pure and keep no state.
#pragma once

#include <array>
#include <cstdint>

#include <opencv2/core.hpp>

namespace quarrow {

// Intrinsics of a pinhole camera with focal length f and principal point
// (cx, cy), all in pixels. The inverse is computed once, on construction,
// and is what pixel_to_ray uses; a singular camera gets an all-zero inverse.
struct PinholeCamera {
  cv::Matx33d intrinsics;              // [[f, 0, cx], [0, f, cy], [0, 0, 1]]
  cv::Matx33d inverse_intrinsics;      // top-left 3x3 of the inverted 4x4 form
  cv::Matx44d homogeneous_intrinsics;  // intrinsics widened with row/column (0, 0, 0, 1)

  PinholeCamera(double focal_length, double cx, double cy);
};

// The camera of a 90 degree square view whose side is `side` pixels: the
// smallest whole focal length whose half field of view is at most 45 degrees
// (searched in single precision), principal point (side / 2, side / 2) in
// integer division.
PinholeCamera make_face_camera(int side);

// Rotations of the six cube faces: front, right, back, left (about y), then
// zenith and nadir (about x). Each maps world directions into its face
// camera's frame; the transpose maps a face ray back into the world. The
// cosines and sines are the math library's values of the angles, so
// cos(-pi/2) is 6.123233995736766e-17, not 0.
std::array<cv::Matx33d, 6> cube_face_rotations();

// Viewing ray through pixel point (x, y): inverse_intrinsics * (x, y, 1).
cv::Vec3d pixel_to_ray(const PinholeCamera& camera, const cv::Point2d& pixel);

// Continuous position (u, v) of a direction (any length) in an equirectangular
// image of width x height pixels. The sign of a zero x picks the seam side:
// (0, 0, -1) gives u = width, (-0.0, 0, -1) gives u = 0.
cv::Point2d direction_to_equirect(std::uint32_t width, std::uint32_t height,
                                  const cv::Vec3d& direction);

// Position of turn fractions (a, b) (longitude and negated latitude divided by
// 2 pi): both axes are scaled by the larger image dimension, so a radian spans
// the same number of pixels horizontally and vertically on a 2:1 image.
cv::Point2d angles_to_equirect(std::uint32_t width, std::uint32_t height, double a,
                               double b);

// Byte at column x, row y of a gap-free 8-bit mask of the given width. The
// caller keeps (x, y) inside the mask.
inline std::uint8_t mask_value_at(const std::uint8_t* mask_data, int width, int x, int y) {
  return mask_data[x + static_cast<std::ptrdiff_t>(width) * y];
}

}  // namespace quarrow
