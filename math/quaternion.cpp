#include "math/quaternion.h"

#include <cmath>

#include "math/rotation_core.h"

namespace corvane::math {

namespace {}

Quaternion normalizeQuaternion(const Quaternion& q) { return rotation_core::normalize(q); }

Quaternion quaternionFromMatrix3x4(const Matrix3x4& m) {
  const float* e = m.m;
  return rotation_core::fromRotation(e[0], e[1], e[2], e[4], e[5], e[6], e[8], e[9], e[10]);
}

Quaternion quaternionFromRotation(const float rotation[9]) {
  const float* e = rotation;
  return rotation_core::fromRotation(e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8]);
}

void rotationFromQuaternion(const Quaternion& q, float rotation[9]) {
  rotation_core::writeRotation(rotation_core::normalize(q), rotation, 3);
}

Quaternion slerpQuaternion(const Quaternion& a, const Quaternion& b, double t) { return rotation_core::slerp(a, b, t); }

double rotationAngleDegrees(const RigidTransform& a, const RigidTransform& b) {
  return rotationAngleDegrees(quaternionFromRotation(a.rotation), quaternionFromRotation(b.rotation));
}

double rotationAngleDegrees(const Quaternion& qa, const Quaternion& qb) {
  const double d = std::fabs(qa.w * qb.w + qa.x * qb.x + qa.y * qb.y + qa.z * qb.z);
  double c = d < 1.0 ? d : 1.0;
  c = std::fmax(c, 0.0);
  return 2.0 * std::acos(c) * 180.0 / kPi;
}

}  // namespace corvane::math
