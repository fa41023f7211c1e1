#include <cmath>

#include "math/blend.h"
#include "math/quaternion.h"
#include "math/transform.h"

namespace corvane::math {

namespace {

constexpr double kSelfTestTolerance = 2e-5;

bool matricesClose(const Matrix4x4& a, const Matrix4x4& b) {
  for (int i = 0; i < 16; ++i) {
    if (std::fabs(static_cast<double>(a.m[i]) - static_cast<double>(b.m[i])) > kSelfTestTolerance) return false;
  }
  return true;
}

RigidTransform fixture(double x, double y, double z, const Quaternion& rotation) {
  RigidTransform t = {{x, y, z}, {}};
  rotationFromQuaternion(rotation, t.rotation);
  return t;
}

}  // namespace

// Blends two scaled, mirrored transforms (20 degrees about z at scale 1.0,
// 100 degrees about z at scale 1.5) and checks the results and the refusals.
bool runMathSelfTest() {
  const RigidTransform a = fixture(1.0, -2.0, 3.0, Quaternion{0.984807753012208, 0.0, 0.0, 0.17364817766693});
  const RigidTransform b = fixture(9.0, 6.0, -5.0, Quaternion{0.642787609686539, 0.0, 0.0, 0.766044443118978});
  Matrix4x4 ma, mb;
  composeScaledRigid(a, 1.0, true, &ma);
  composeScaledRigid(b, 1.5, true, &mb);

  Matrix4x4 r0, r1, rHalf;
  if (!interpolateMatrix4x4(ma, mb, 0.0, &r0) || !interpolateMatrix4x4(ma, mb, 1.0, &r1) ||
      !interpolateMatrix4x4(ma, mb, 0.5, &rHalf)) {
    return false;
  }
  if (!matricesClose(r0, ma) || !matricesClose(r1, mb)) return false;

  RigidTransform half;
  double scale = 0.0;
  bool mirrored = false;
  if (!decomposeScaledRigid(rHalf, &half, &scale, &mirrored) || !mirrored ||
      std::fabs(scale - 1.25) > kSelfTestTolerance) {
    return false;
  }

  Matrix4x4 forward, backward;
  if (!relativeTransforms(mb, rHalf, &forward, &backward)) return false;

  Matrix4x4 unmirroredB, blended;
  composeScaledRigid(b, 1.5, false, &unmirroredB);
  if (interpolateMatrix4x4(ma, unmirroredB, 0.5, &blended)) return false;

  const RigidTransform identity = fixture(0.0, 0.0, 0.0, Quaternion{1.0, 0.0, 0.0, 0.0});
  Matrix4x4 stretched;
  composeScaledRigid(identity, 1.0, false, &stretched);
  stretched.m[0] = 1.25f;
  RigidTransform ignored;
  return !decomposeScaledRigid(stretched, &ignored, &scale, &mirrored);
}

}  // namespace corvane::math
