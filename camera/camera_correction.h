// The first-person correction: what the camera logic changed in this frame, as
// a forward transform (host camera -> presented camera) and its inverse.
#pragma once
#include "camera/update_camera.h"
#include "math/types.h"

namespace corvane::camera {

using math::RigidTransform;

// A correction never exceeds what one step between camera samples may.
constexpr double kMaxCorrectionDistance = kMaxJumpDistance;
constexpr double kMaxCorrectionAngle = kMaxJumpAngle;

// The camera's world matrix: axes as columns, origin (narrowed to 32-bit) as
// translation.
Matrix4x4 cameraWorldMatrix(const RigidTransform& pose);
// The inverse rigid transform of the same pose, built directly in 32-bit.
Matrix4x4 cameraViewMatrix(const RigidTransform& pose);

// forward = W(after) x V(before), inverse = W(before) x V(after). True only when
// both are usable; on false the outputs may hold partial results.
bool ComputeCameraCorrection(const RigidTransform& before, const RigidTransform& after, Matrix4x4* forward,
                             Matrix4x4* inverse);

}  // namespace corvane::camera
