// The first-person correction between the host's camera and the presented one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "camera/camera_correction.h"
#include "math/transform.h"
#include "tests/support/camera_host.h"

using namespace corvane::camera;
using namespace corvane::math;

namespace {

RigidTransform pose(double x, double y, double z, double yawDegrees) {
  RigidTransform t{};
  t.translation[0] = x;
  t.translation[1] = y;
  t.translation[2] = z;
  yawAxes(yawDegrees, t.rotation);
  return t;
}

void expectNear(const Matrix4x4& m, const float (&expected)[16], double tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], expected[i], tolerance) << "element " << i;
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST(CameraCorrection, SamePoseGivesIdentity) {
  const RigidTransform p = pose(123.0, -45.0, 6.5, 33.0);
  Matrix4x4 forward{}, inverse{};
  ASSERT_TRUE(ComputeCameraCorrection(p, p, &forward, &inverse));
  expectNear(forward, kIdentity, 2e-5);
  expectNear(inverse, kIdentity, 2e-5);
}

TEST(CameraCorrection, DisplacementTranslatesForwardAndBack) {
  const RigidTransform before = pose(10.0, 20.0, 30.0, 70.0);
  const RigidTransform after = pose(11.0, 20.0, 30.0, 70.0);
  Matrix4x4 forward{}, inverse{};
  ASSERT_TRUE(ComputeCameraCorrection(before, after, &forward, &inverse));
  const float translatePlus[16] = {1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const float translateMinus[16] = {1, 0, 0, -1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  expectNear(forward, translatePlus, 1e-5);
  expectNear(inverse, translateMinus, 1e-5);
}

TEST(CameraCorrection, DistanceLimitIsInclusive) {
  Matrix4x4 forward{}, inverse{};
  EXPECT_TRUE(ComputeCameraCorrection(pose(0, 0, 0, 0), pose(5.0, 0, 0, 0), &forward, &inverse));
  EXPECT_FALSE(ComputeCameraCorrection(pose(0, 0, 0, 0), pose(5.001, 0, 0, 0), &forward, &inverse));
}

TEST(CameraCorrection, AngleLimitAcceptsFortyFourAndRefusesFortySix) {
  Matrix4x4 forward{}, inverse{};
  EXPECT_TRUE(ComputeCameraCorrection(pose(1, 2, 3, 10), pose(1, 2, 3, 54), &forward, &inverse));
  EXPECT_FALSE(ComputeCameraCorrection(pose(1, 2, 3, 10), pose(1, 2, 3, 56), &forward, &inverse));
}

TEST(CameraCorrection, NaNInEitherPoseFailsAndLeavesTheOutputs) {
  for (int which = 0; which < 2; ++which) {
    for (int component = 0; component < 9; ++component) {
      RigidTransform a = pose(1, 2, 3, 10), b = pose(1.5, 2, 3, 12);
      (which == 0 ? a : b).rotation[component] = NAN;
      Matrix4x4 forward{}, inverse{};
      EXPECT_FALSE(ComputeCameraCorrection(a, b, &forward, &inverse));
      const Matrix4x4 zero{};
      EXPECT_EQ(0, std::memcmp(&forward, &zero, sizeof zero));
      EXPECT_EQ(0, std::memcmp(&inverse, &zero, sizeof zero));
    }
  }
}

TEST(CameraCorrection, WorldAndViewMatricesAreInverses) {
  const RigidTransform p = pose(-7.25, 3.5, 100.0, 123.0);
  const Matrix4x4 w = cameraWorldMatrix(p);
  // Axis vectors are columns of the world matrix.
  EXPECT_EQ(w.m[0], p.rotation[0]);
  EXPECT_EQ(w.m[4], p.rotation[1]);
  EXPECT_EQ(w.m[1], p.rotation[3]);
  EXPECT_EQ(w.m[3], -7.25f);
  Matrix4x4 product;
  multiplyMatrix4x4(w, cameraViewMatrix(p), &product);
  expectNear(product, kIdentity, 1e-4);
}

// Random poses and random changes within the limits: forward undoes inverse,
// and forward carries the camera before onto the camera after.
TEST(CameraCorrection, ForwardTimesInverseIsIdentityOverRandomPoses) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> position(-2000.0, 2000.0), step(-2.8, 2.8), unit(-1.0, 1.0),
      angle(-40.0, 40.0);
  for (int trial = 0; trial < 2000; ++trial) {
    // A random orientation from a random unit quaternion, as the host's axes.
    double q[4];
    double norm;
    do {
      for (double& c : q) c = unit(rng);
      norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    } while (norm < 0.1);
    for (double& c : q) c /= norm;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                         2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                         2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
    RigidTransform before{};
    for (int i = 0; i < 3; ++i) before.translation[i] = static_cast<float>(position(rng));
    for (int i = 0; i < 9; ++i) before.rotation[i] = static_cast<float>(r[i]);
    // After: turned about the first axis of the camera and moved a little.
    RigidTransform after = before;
    const double turn = angle(rng) * M_PI / 180.0, c = std::cos(turn), s = std::sin(turn);
    for (int i = 0; i < 3; ++i) {
      after.rotation[3 + i] = static_cast<float>(c * r[3 + i] + s * r[6 + i]);
      after.rotation[6 + i] = static_cast<float>(-s * r[3 + i] + c * r[6 + i]);
      after.translation[i] = static_cast<float>(before.translation[i] + step(rng));
    }
    Matrix4x4 forward{}, inverse{};
    ASSERT_TRUE(ComputeCameraCorrection(before, after, &forward, &inverse)) << "trial " << trial;
    Matrix4x4 product;
    multiplyMatrix4x4(forward, inverse, &product);
    // Rounding grows with the distance from the origin of the world.
    for (int i = 0; i < 16; ++i)
      ASSERT_NEAR(product.m[i], kIdentity[i], (i % 4 == 3 && i < 12) ? 2e-3 : 1e-5)
          << "trial " << trial << " element " << i;
    Matrix4x4 carried;
    multiplyMatrix4x4(forward, cameraWorldMatrix(before), &carried);
    const Matrix4x4 target = cameraWorldMatrix(after);
    for (int i = 0; i < 16; ++i)
      ASSERT_NEAR(carried.m[i], target.m[i], (i % 4 == 3 && i < 12) ? 2e-3 : 1e-5) << "trial " << trial;
  }
}

}  // namespace
