// Rotations as unit quaternions in 64-bit arithmetic.
#pragma once
#include "math/types.h"

constexpr double kPi = 3.141592653589793;

Quaternion normalizeQuaternion(const Quaternion& q);
Quaternion quaternionFromMatrix3x4(const Matrix3x4& m);
// A rotation block of nine floats read in row order (element 3r + c).
Quaternion quaternionFromRotation(const float rotation[9]);
void rotationFromQuaternion(const Quaternion& q, float rotation[9]);
Quaternion slerpQuaternion(const Quaternion& a, const Quaternion& b, double t);
double rotationAngleDegrees(const RigidTransform& a, const RigidTransform& b);
// The same from the two rotations' quaternions.
double rotationAngleDegrees(const Quaternion& qa, const Quaternion& qb);
