#include "tests/session/session_paths.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

double determinant(const PathPose& p) {
  const double* m = p.m;
  return m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
}

double gap(const PathPose& a, const PathPose& b) {
  double most = 0;
  for (int i = 0; i < 16; ++i) most = std::fmax(most, std::fabs(a.m[i] - b.m[i]));
  return most;
}

}  // namespace

TEST(SessionPaths, CameraIsContinuousAndItsPiecesAreWhatTheyClaim) {
  // Through two whole cycles: no jump anywhere, so only the teleport path jumps.
  for (double t = 0.001; t < 10.0; t += 0.01)
    ASSERT_LT(gap(pathPose(kPathCamera, 0, t - 1e-6), pathPose(kPathCamera, 0, t + 1e-6)), 1e-3) << t;
  // Strafe: constant velocity, fixed orientation; turn and stand: the origin stays.
  const PathPose a = pathPose(kPathCamera, 0, 0.5), b = pathPose(kPathCamera, 0, 1.0),
                 c = pathPose(kPathCamera, 0, 1.5);
  for (int i : {3, 7, 11}) EXPECT_NEAR(c.m[i] - b.m[i], b.m[i] - a.m[i], 1e-9);
  EXPECT_LT(rotationDegreesBetween(a, c), 1e-9);
  EXPECT_EQ(cameraMotion(0.5), 0);
  EXPECT_EQ(cameraMotion(2.5), 1);
  EXPECT_EQ(cameraMotion(4.5), 2);
  EXPECT_EQ(cameraMotion(5.5), 0);
  const PathPose t1 = pathPose(kPathCamera, 0, 2.5), t2 = pathPose(kPathCamera, 0, 3.0);
  EXPECT_NEAR(rotationDegreesBetween(t1, t2), 45.0, 1e-9);
  EXPECT_EQ(t1.m[3], t2.m[3]);
  EXPECT_NE(pathPiece(kPathCamera, 0, 1.9), pathPiece(kPathCamera, 0, 2.1));
  EXPECT_EQ(pathPiece(kPathCamera, 0, 0.1), pathPiece(kPathCamera, 0, 1.9));
  EXPECT_NEAR(pathSpeed(kPathCamera, 0, 1.0), 120.0, 1e-4);
  // Odd cycles strafe back to where the even ones began.
  EXPECT_NEAR(pathPose(kPathCamera, 0, 10.0).m[3], pathPose(kPathCamera, 0, 0.0).m[3], 1e-9);
}

TEST(SessionPaths, HandsStayAtTheirOffsetFromTheCamera) {
  for (double t : {0.3, 2.7, 4.2}) {
    const PathPose c = pathPose(kPathCamera, 0, t), h = pathPose(kPathHands, 0, t);
    EXPECT_LT(rotationDegreesBetween(c, h), 1e-12);
    double d = 0;
    for (int i : {3, 7, 11}) d += (h.m[i] - c.m[i]) * (h.m[i] - c.m[i]);
    EXPECT_NEAR(std::sqrt(d), std::sqrt(18.0 * 18.0 + 9.5 * 9.5 + 14.0 * 14.0), 1e-9);
  }
}

TEST(SessionPaths, WorldModelKindsHaveTheShapesTheirNamesSay) {
  for (uint32_t i : {0u, 5u, 700u}) {
    const PathPose l0 = pathPose(kPathLine, i, 1.0), l1 = pathPose(kPathLine, i, 1.5), l2 = pathPose(kPathLine, i, 2.0);
    for (int k : {3, 7, 11}) EXPECT_NEAR(l2.m[k] - l1.m[k], l1.m[k] - l0.m[k], 1e-9);
    EXPECT_NEAR(determinant(l0), 1.0, 1e-12);
    EXPECT_NEAR(determinant(pathPose(kPathMirrored, i, 1.0)), -1.0, 1e-12);
    EXPECT_NEAR(determinant(pathPose(kPathScaled, i, 1.0)), 1.0 * 2.5 * 0.4, 1e-12);
    const PathPose sheared = pathPose(kPathSheared, i, 1.0);
    EXPECT_NEAR(determinant(sheared), 1.0, 1e-12);  // a shear keeps volume, but the axes lean
    EXPECT_NEAR(sheared.m[0] * sheared.m[1] + sheared.m[4] * sheared.m[5] + sheared.m[8] * sheared.m[9], 0.5, 1e-12);
    EXPECT_NEAR(determinant(pathPose(kPathArc, i, 1.0)), 1.0, 1e-12);
    // The arc turns as it goes round; the door turns about a fixed hinge.
    EXPECT_GT(rotationDegreesBetween(pathPose(kPathArc, i, 1.0), pathPose(kPathArc, i, 1.1)), 5.0);
    EXPECT_EQ(pathPose(kPathDoor, i, 0.1).m[3], pathPose(kPathDoor, i, 0.4).m[3]);
  }
  // A teleport jumps 400 units once a second and moves smoothly in between.
  const PathPose before = pathPose(kPathTeleport, 3, 1.0 - 1e-9), after = pathPose(kPathTeleport, 3, 1.0);
  EXPECT_NEAR(std::fabs(after.m[7] - before.m[7]), 400.0, 1e-6);
  EXPECT_NE(pathPiece(kPathTeleport, 3, 0.99), pathPiece(kPathTeleport, 3, 1.01));
  EXPECT_LT(gap(pathPose(kPathTeleport, 3, 1.5), pathPose(kPathTeleport, 3, 1.5 + 1e-7)), 1e-3);
}

TEST(SessionPaths, RotationAngleIsExactForSmallAndLargeTurns) {
  for (double degrees : {1e-4, 0.5, 30.0, 179.0}) {
    const PathPose a = pathPose(kPathCamera, 0, 2.0);
    const PathPose b = pathPose(kPathCamera, 0, 2.0 + degrees / 90.0);
    EXPECT_NEAR(rotationDegreesBetween(a, b), degrees, 1e-9 + degrees * 1e-9);
  }
}
