#include "camera/camera_correction.h"

#include <cmath>

#include "math/quaternion.h"
#include "math/transform.h"

namespace corvane::camera {

Matrix4x4 cameraWorldMatrix(const RigidTransform& pose) {
  const float* a = pose.rotation;
  const float x = static_cast<float>(pose.translation[0]);
  const float y = static_cast<float>(pose.translation[1]);
  const float z = static_cast<float>(pose.translation[2]);
  return Matrix4x4{{a[0], a[3], a[6], x,  //
                    a[1], a[4], a[7], y,  //
                    a[2], a[5], a[8], z,  //
                    0.0f, 0.0f, 0.0f, 1.0f}};
}

Matrix4x4 cameraViewMatrix(const RigidTransform& pose) {
  const float* a = pose.rotation;
  const float x = static_cast<float>(pose.translation[0]);
  const float y = static_cast<float>(pose.translation[1]);
  const float z = static_cast<float>(pose.translation[2]);
  return Matrix4x4{{a[0], a[1], a[2], -(a[0] * x + a[1] * y + a[2] * z),  //
                    a[3], a[4], a[5], -(a[3] * x + a[4] * y + a[5] * z),  //
                    a[6], a[7], a[8], -(a[6] * x + a[7] * y + a[8] * z),  //
                    0.0f, 0.0f, 0.0f, 1.0f}};
}

bool ComputeCameraCorrection(const RigidTransform& before, const RigidTransform& after, Matrix4x4* forward,
                             Matrix4x4* inverse) {
  if (!math::isFiniteRigidTransform(before) || !math::isFiniteRigidTransform(after)) return false;
  const double dx = after.translation[0] - before.translation[0];
  const double dy = after.translation[1] - before.translation[1];
  const double dz = after.translation[2] - before.translation[2];
  if (std::sqrt(dx * dx + dy * dy + dz * dz) > kMaxCorrectionDistance) return false;
  if (math::rotationAngleDegrees(before, after) > kMaxCorrectionAngle) return false;
  math::multiplyMatrix4x4(cameraWorldMatrix(after), cameraViewMatrix(before), forward);
  math::multiplyMatrix4x4(cameraWorldMatrix(before), cameraViewMatrix(after), inverse);
  return math::isFiniteMatrix4x4(*forward) && math::isFiniteMatrix4x4(*inverse);
}

}  // namespace corvane::camera
