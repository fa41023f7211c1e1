// Rotations as unit quaternions in 64-bit arithmetic.
#pragma once
#include "math/types.h"

namespace corvane::math {

constexpr double kPi = 3.141592653589793;

Quaternion normalizeQuaternion(const Quaternion& q);
Quaternion quaternionFromMatrix3x4(const Matrix3x4& m);
// A rotation block of nine floats read, and written, in row order (element
// 3r + c). A RigidTransform stores its rotation column by column, so on its
// block these work on the transposed rotation, whose quaternion is the
// conjugate: the absolute dot product, the blend after its hemisphere choice
// and the angle are the same, and writing the blend back in row order undoes
// the transposition. The order is kept as it is: reading by columns instead
// would give the same matrices except for the signs of zero elements.
Quaternion quaternionFromRotation(const float rotation[9]);
void rotationFromQuaternion(const Quaternion& q, float rotation[9]);
Quaternion slerpQuaternion(const Quaternion& a, const Quaternion& b, double t);
double rotationAngleDegrees(const RigidTransform& a, const RigidTransform& b);
// The same from the two rotations' quaternions.
double rotationAngleDegrees(const Quaternion& qa, const Quaternion& qb);

}  // namespace corvane::math
