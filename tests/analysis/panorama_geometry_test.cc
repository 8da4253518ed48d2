#include "analysis/panorama_geometry.h"

#include <cmath>

#include <gtest/gtest.h>

namespace quarrow {
namespace {

TEST(FaceCameraTest, FocalLengthAndCentreForSmallSides) {
  struct Case {
    int side;
    double focal;
    double centre;
  };
  const Case cases[] = {{1, 1, 0}, {2, 1, 1}, {3, 2, 1}, {4, 2, 2}, {5, 3, 2},
                        {6, 3, 3}, {7, 4, 3}, {8, 4, 4}, {128, 64, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.side);
    const PinholeCamera camera = make_face_camera(c.side);
    EXPECT_EQ(camera.intrinsics(0, 0), c.focal);
    EXPECT_EQ(camera.intrinsics(1, 1), c.focal);
    EXPECT_EQ(camera.intrinsics(0, 2), c.centre);
    EXPECT_EQ(camera.intrinsics(1, 2), c.centre);
    EXPECT_EQ(camera.intrinsics(2, 2), 1.0);
    EXPECT_EQ(camera.homogeneous_intrinsics(0, 0), c.focal);
    EXPECT_EQ(camera.homogeneous_intrinsics(1, 2), c.centre);
    EXPECT_EQ(camera.homogeneous_intrinsics(3, 3), 1.0);
    EXPECT_EQ(camera.homogeneous_intrinsics(2, 3), 0.0);
  }
}

TEST(FaceCameraTest, InverseUndoesIntrinsics) {
  const PinholeCamera camera = make_face_camera(128);
  const cv::Matx33d product = camera.intrinsics * camera.inverse_intrinsics;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(product(r, c), r == c ? 1.0 : 0.0, 1e-12);
    }
  }
}

TEST(FaceCameraTest, PixelToRayOfZenithFaceCamera) {
  const PinholeCamera camera = make_face_camera(128);
  struct Case {
    double x, y;
    double rx, ry;
  };
  const Case cases[] = {{64, 64, 0, 0}, {0, 0, -1, -1}, {127, 127, 0.984375, 0.984375},
                        {0, 127, -1, 0.984375}, {96, 32, 0.5, -0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    const cv::Vec3d ray = pixel_to_ray(camera, cv::Point2d(c.x, c.y));
    EXPECT_NEAR(ray[0], c.rx, 1e-12);
    EXPECT_NEAR(ray[1], c.ry, 1e-12);
    EXPECT_NEAR(ray[2], 1.0, 1e-12);
  }
}

TEST(FaceCameraTest, SingularCameraGivesZeroRays) {
  const PinholeCamera camera(0.0, 64.0, 64.0);
  EXPECT_EQ(camera.inverse_intrinsics, cv::Matx33d::zeros());
  const cv::Vec3d ray = pixel_to_ray(camera, cv::Point2d(10.0, 20.0));
  EXPECT_EQ(ray, cv::Vec3d(0.0, 0.0, 0.0));
}

TEST(CubeFaceRotationsTest, UsesLibraryCosinesWithoutExactZeros) {
  const auto rotations = cube_face_rotations();
  const double c = std::cos(-1.5707963267948966);
  const double s = std::sin(-1.5707963267948966);
  EXPECT_EQ(c, 6.123233995736766e-17);
  EXPECT_EQ(rotations[0], cv::Matx33d::eye());
  EXPECT_EQ(rotations[1], cv::Matx33d(c, 0, s, 0, 1, 0, -s, 0, c));
  EXPECT_EQ(rotations[4], cv::Matx33d(1, 0, 0, 0, c, -s, 0, s, c));
  const double c5 = std::cos(1.5707963267948966);
  const double s5 = std::sin(1.5707963267948966);
  EXPECT_EQ(rotations[5], cv::Matx33d(1, 0, 0, 0, c5, -s5, 0, s5, c5));
  const double c2 = std::cos(-3.141592653589793);
  const double s2 = std::sin(-3.141592653589793);
  EXPECT_EQ(rotations[2], cv::Matx33d(c2, 0, s2, 0, 1, 0, -s2, 0, c2));
  const double c3 = std::cos(-4.71238898038469);
  const double s3 = std::sin(-4.71238898038469);
  EXPECT_EQ(rotations[3], cv::Matx33d(c3, 0, s3, 0, 1, 0, -s3, 0, c3));
}

TEST(CubeFaceRotationsTest, EachRotationIsOrthonormal) {
  for (const cv::Matx33d& rotation : cube_face_rotations()) {
    const cv::Matx33d product = rotation * rotation.t();
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(product(r, c), r == c ? 1.0 : 0.0, 1e-15);
      }
    }
  }
}

TEST(DirectionToEquirectTest, AxesDiagonalsAndSeam) {
  struct Case {
    cv::Vec3d direction;
    double u, v;
  };
  const Case cases[] = {
      {{0, 0, 1}, 256, 128},   {{1, 0, 0}, 384, 128},  {{-1, 0, 0}, 128, 128},
      {{0, 0, -1}, 512, 128},  {{-0.0, 0, -1}, 0, 128}, {{0, -1, 0}, 256, 0},
      {{0, 1, 0}, 256, 256},   {{1, -1, 0}, 384, 64},   {{0, 0, 5}, 256, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.direction);
    const cv::Point2d position = direction_to_equirect(512, 256, c.direction);
    EXPECT_NEAR(position.x, c.u, 1e-9);
    EXPECT_NEAR(position.y, c.v, 1e-9);
  }
}

TEST(DirectionToEquirectTest, AnglesScaleBothAxesByLargerDimension) {
  // A 2:1 image and its transposed 1:2 form use the same scale (512).
  EXPECT_EQ(angles_to_equirect(512, 256, 0.25, -0.125), cv::Point2d(384.0, 64.0));
  EXPECT_EQ(angles_to_equirect(256, 512, 0.25, -0.125), cv::Point2d(256.0, 192.0));
  EXPECT_EQ(angles_to_equirect(0, 0, 0.5, 0.5), cv::Point2d(0.0, 0.0));
}

TEST(DirectionToEquirectTest, ZenithFaceRaysMapToLatitude45) {
  const cv::Matx33d to_world = cube_face_rotations()[4].t();
  const cv::Point2d left = direction_to_equirect(512, 256, to_world * cv::Vec3d(-1, 0, 1));
  EXPECT_NEAR(left.x, 128.0, 1e-9);
  EXPECT_NEAR(left.y, 64.0, 1e-9);
  const cv::Point2d right = direction_to_equirect(512, 256, to_world * cv::Vec3d(1, 0, 1));
  EXPECT_NEAR(right.x, 384.0, 1e-9);
  EXPECT_NEAR(right.y, 64.0, 1e-9);
  // The face centre looks straight up: row 0, whatever column rounding picks.
  const cv::Point2d centre = direction_to_equirect(512, 256, to_world * cv::Vec3d(0, 0, 1));
  EXPECT_NEAR(centre.y, 0.0, 1e-9);
  EXPECT_GE(centre.x, 0.0);
  EXPECT_LE(centre.x, 512.0);
}

TEST(MaskValueAtTest, ReadsRowMajorBytes) {
  cv::Mat mask(3, 4, CV_8UC1);
  for (int i = 0; i < 12; ++i) mask.data[i] = static_cast<std::uint8_t>(i * 20);
  EXPECT_EQ(mask_value_at(mask.data, 4, 0, 0), 0);
  EXPECT_EQ(mask_value_at(mask.data, 4, 3, 0), 60);
  EXPECT_EQ(mask_value_at(mask.data, 4, 1, 2), 180);
  EXPECT_EQ(mask_value_at(mask.data, 4, 3, 2), 220);
}

}  // namespace
}  // namespace quarrow
