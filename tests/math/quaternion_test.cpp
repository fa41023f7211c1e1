// Quaternion conversions, normalisation and spherical blends against rotations
// built from axis and angle in long double.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "math/quaternion.h"
#include "tests/support/reference.h"

namespace {

using ref::kPi;

Quaternion axisAngleQuaternion(ref::Vec3 axis, ref::Real angle) {
  const ref::Vec3 n = ref::normalized(axis);
  const ref::Real s = std::sin(angle / 2);
  return Quaternion{double(std::cos(angle / 2)), double(n.v[0] * s), double(n.v[1] * s), double(n.v[2] * s)};
}

// Equal up to sign, each component within tol.
void expectSameRotation(const Quaternion& q, const Quaternion& r, double tol) {
  const double sign = q.w * r.w + q.x * r.x + q.y * r.y + q.z * r.z < 0 ? -1.0 : 1.0;
  EXPECT_NEAR(q.w, sign * r.w, tol);
  EXPECT_NEAR(q.x, sign * r.x, tol);
  EXPECT_NEAR(q.y, sign * r.y, tol);
  EXPECT_NEAR(q.z, sign * r.z, tol);
}

void expectQuaternion(const Quaternion& q, double w, double x, double y, double z) {
  EXPECT_EQ(q.w, w);
  EXPECT_EQ(q.x, x);
  EXPECT_EQ(q.y, y);
  EXPECT_EQ(q.z, z);
}

void rowBlock(const ref::Mat3& r, float block[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) block[3 * i + j] = float(r.a[i][j]);
}

RigidTransform rigidOf(const ref::Mat3& r) {
  RigidTransform t{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) t.rotation[3 * j + i] = float(r.a[i][j]);
  return t;
}

TEST(QuaternionConversion, IdentityAndHalfTurns) {
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  expectQuaternion(quaternionFromRotation(identity), 1, 0, 0, 0);
  const float halfX[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  const float halfY[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  const float halfZ[9] = {-1, 0, 0, 0, -1, 0, 0, 0, 1};
  expectQuaternion(quaternionFromRotation(halfX), 0, 1, 0, 0);
  expectQuaternion(quaternionFromRotation(halfY), 0, 0, 1, 0);
  expectQuaternion(quaternionFromRotation(halfZ), 0, 0, 0, 1);
  Matrix3x4 m{};
  m.m[0] = -1;
  m.m[5] = 1;
  m.m[10] = -1;
  m.m[3] = 7;  // translation is not part of the rotation
  expectQuaternion(quaternionFromMatrix3x4(m), 0, 0, 1, 0);
}

// Inputs that are not rotations tell the branches apart: ties go to the later branch.
TEST(QuaternionConversion, BranchComparisonsAreStrict) {
  const float zero[9] = {};
  expectQuaternion(quaternionFromRotation(zero), 0, 0, 0, 1);  // trace 0, all ties: last branch
  const float tie01[9] = {0, 0, 0, 0, 0, 0, 0, 0, -1};         // m00 == m11 > m22
  expectQuaternion(quaternionFromRotation(tie01), 0, 0, 1, 0);
  const float tie02[9] = {0, 0, 0, 0, -1, 0, 0, 0, 0};  // m00 == m22 > m11
  expectQuaternion(quaternionFromRotation(tie02), 0, 0, 0, 1);
  const float tie12[9] = {-1, 0, 0, 0, 0, 0, 0, 0, 0};  // m11 == m22 > m00
  expectQuaternion(quaternionFromRotation(tie12), 0, 0, 0, 1);
  // A NaN anywhere on the diagonal yields the identity.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float withNan[9] = {nan, 0, 0, 0, 1, 0, 0, 0, 1};
  expectQuaternion(quaternionFromRotation(withNan), 1, 0, 0, 0);
}

TEST(QuaternionConversion, RandomRotationsBothLayoutsAndBack) {
  ref::Random random(5);
  for (int n = 0; n < 4000; ++n) {
    const ref::Vec3 axis = random.direction();
    // A quarter of the angles near a half turn, where the trace is negative.
    const ref::Real angle = n % 4 == 0 ? random.uniform(3.0L, kPi) : random.uniform(0, kPi);
    const ref::Mat3 r = ref::axisAngle(axis, angle);
    const Quaternion expected = axisAngleQuaternion(axis, angle);
    float block[9];
    rowBlock(r, block);
    const Quaternion q = quaternionFromRotation(block);
    expectSameRotation(q, expected, 2e-6);
    expectSameRotation(quaternionFromMatrix3x4(ref::rigid3x4(r, {{1, 2, 3}})), expected, 2e-6);
    EXPECT_NEAR(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z, 1.0, 1e-15);
    float back[9];
    rotationFromQuaternion(expected, back);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(back[i], double(r.a[i / 3][i % 3]), 2e-7) << n;
  }
  // Normalised first: a scaled quaternion gives the same rotation.
  float back[9], scaled[9];
  const Quaternion q = axisAngleQuaternion({{1, -2, 0.5}}, 1.0L);
  rotationFromQuaternion(q, back);
  rotationFromQuaternion(Quaternion{3 * q.w, 3 * q.x, 3 * q.y, 3 * q.z}, scaled);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(scaled[i], back[i], 1e-7);
  rotationFromQuaternion(Quaternion{0, 0, 0, 0}, back);
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(back[i], identity[i]);
}

TEST(QuaternionNormalize, DegenerateInputsFallBackToIdentity) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  expectQuaternion(normalizeQuaternion({0, 0, 0, 0}), 1, 0, 0, 0);
  expectQuaternion(normalizeQuaternion({0, nan, 0, 0}), 1, 0, 0, 0);
  expectQuaternion(normalizeQuaternion({0, 0, inf, 0}), 1, 0, 0, 0);
  expectQuaternion(normalizeQuaternion({0, 0, 0, 1e-13}), 1, 0, 0, 0);
  expectQuaternion(normalizeQuaternion({0, 1e-12, 0, 0}), 1, 0, 0, 0);  // at the limit
  expectQuaternion(normalizeQuaternion({0, 1.0000001e-12, 0, 0}), 0, 1, 0, 0);
  expectQuaternion(normalizeQuaternion({0, 1e300, 0, 1e300}), 1, 0, 0, 0);  // norm overflows
  const Quaternion q = normalizeQuaternion({1, 2, 3, 4});
  EXPECT_NEAR(q.w, 1 / std::sqrt(30.0), 1e-16);
  EXPECT_NEAR(q.z, 4 / std::sqrt(30.0), 1e-16);
}

TEST(Slerp, AboutOneAxisAndAtTheEnds) {
  const ref::Vec3 z{{0, 0, 1}};
  const Quaternion a = axisAngleQuaternion(z, 20 * kPi / 180), b = axisAngleQuaternion(z, 100 * kPi / 180);
  expectSameRotation(slerpQuaternion(a, b, 0.5), axisAngleQuaternion(z, 60 * kPi / 180), 1e-15);
  expectSameRotation(slerpQuaternion(a, b, 0.0), a, 1e-15);
  expectSameRotation(slerpQuaternion(a, b, 1.0), b, 1e-15);
  expectSameRotation(slerpQuaternion(a, b, 2.0), axisAngleQuaternion(z, 180 * kPi / 180), 1e-15);
  expectSameRotation(slerpQuaternion(a, b, -0.5), axisAngleQuaternion(z, -20 * kPi / 180), 1e-15);
  const Quaternion q = axisAngleQuaternion({{0.3, -1, 2}}, 2.0L);
  const Quaternion minus{-q.w, -q.x, -q.y, -q.z};
  for (double t : {-1.0, 0.0, 0.3, 1.0, 4.0}) {
    const Quaternion r = slerpQuaternion(q, minus, t);
    EXPECT_NEAR(r.w, q.w, 1e-15);
    EXPECT_NEAR(r.x, q.x, 1e-15);
    EXPECT_NEAR(r.y, q.y, 1e-15);
    EXPECT_NEAR(r.z, q.z, 1e-15);
  }
  // Inputs are normalised first.
  const Quaternion big{4 * a.w, 4 * a.x, 4 * a.y, 4 * a.z};
  expectSameRotation(slerpQuaternion(big, b, 0.5), axisAngleQuaternion(z, 60 * kPi / 180), 1e-15);
}

TEST(Slerp, RandomPairsFollowTheArcInsideAndOutsideTheInterval) {
  ref::Random random(6);
  for (int n = 0; n < 3000; ++n) {
    const bool small = n % 2 == 0;
    const ref::Mat3 ra = random.rotation();
    const ref::Real apart = small ? random.uniform(0.001L, 3.0L * kPi / 180) : random.uniform(0.2L, 2.9L);
    const ref::Mat3 rb = random.rotationAway(ra, apart);
    const ref::Real t = random.uniform(-0.5L, 1.5L);
    float ba[9], bb[9], out[9];
    rowBlock(ra, ba);
    rowBlock(rb, bb);
    rotationFromQuaternion(slerpQuaternion(quaternionFromRotation(ba), quaternionFromRotation(bb), double(t)), out);
    const ref::Mat3 expected = ref::arcBlend(ra, rb, t);
    // The linear blend of near rotations bends the arc by at most a few 1e-5.
    const double tol = small ? 5e-5 : 3e-6;
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(out[i], double(expected.a[i / 3][i % 3]), tol) << n << " t=" << double(t);
  }
}

// Rotations about x by 2*acos(c): the dot product of the two unit
// quaternions is then c exactly.
TEST(Slerp, CosineLimitBelongsToTheTrigonometricBranch) {
  const Quaternion a{1, 0, 0, 0};
  auto partner = [](double w) {
    double x = std::sqrt(1 - w * w);
    while (std::sqrt(w * w + x * x) != 1.0) x = std::nextafter(x, 0.0);
    return Quaternion{w, x, 0, 0};
  };
  const double t = 3.0;  // far outside the pair, where the two branches differ most
  for (double w : {0.9995, std::nextafter(0.9995, 1.0)}) {
    const Quaternion b = partner(w);
    const Quaternion r = slerpQuaternion(a, b, t);
    const ref::Real half = std::acos(ref::Real(b.w));
    const ref::Real linW = 1 + (b.w - 1) * t, linX = b.x * t, linN = std::sqrt(linW * linW + linX * linX);
    if (w == 0.9995) {
      EXPECT_NEAR(r.w, double(std::cos(3 * half)), 1e-14);
      EXPECT_NEAR(r.x, double(std::sin(3 * half)), 1e-14);
      EXPECT_GT(std::fabs(r.x - double(linX / linN)), 1e-6);
    } else {
      EXPECT_NEAR(r.w, double(linW / linN), 1e-15);
      EXPECT_NEAR(r.x, double(linX / linN), 1e-15);
    }
  }
}

TEST(RotationAngle, AgainstReferenceAngles) {
  const ref::Vec3 axis{{1, 1, 0}};
  const RigidTransform a = rigidOf(ref::axisAngle(axis, 20 * kPi / 180));
  const RigidTransform b = rigidOf(ref::axisAngle(axis, 100 * kPi / 180));
  EXPECT_NEAR(rotationAngleDegrees(a, a), 0.0, 1e-5);
  EXPECT_EQ(rotationAngleDegrees(rigidOf(ref::identity()), rigidOf(ref::identity())), 0.0);
  EXPECT_NEAR(rotationAngleDegrees(a, b), 80.0, 1e-4);
  EXPECT_NEAR(rotationAngleDegrees(b, a), 80.0, 1e-4);
  const RigidTransform id = rigidOf(ref::identity());
  RigidTransform half{};
  half.rotation[0] = 1;
  half.rotation[4] = -1;
  half.rotation[8] = -1;
  EXPECT_NEAR(rotationAngleDegrees(id, half), 180.0, 1e-12);
  ref::Random random(7);
  for (int n = 0; n < 2000; ++n) {
    const ref::Mat3 ra = random.rotation();
    const ref::Real apart = random.uniform(0.1L, 3.1L);
    const ref::Mat3 rb = random.rotationAway(ra, apart);
    EXPECT_NEAR(rotationAngleDegrees(rigidOf(ra), rigidOf(rb)), double(apart * 180 / kPi), 1e-3) << n;
  }
}

}  // namespace
