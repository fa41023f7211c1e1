// Validation, decomposition, inversion and products of transforms. Stateless,
// allocation-free; failure is a false result.
#pragma once
#include "math/types.h"

bool isFiniteMatrix4x4(const Matrix4x4& m);
bool isFiniteRigidTransform(const RigidTransform& t);
bool isRigidMatrix3x4(const Matrix3x4& m);
// Writes `out` only when every rigidity test passes.
bool decomposeRigid(const Matrix4x4& m, RigidTransform* out);
// `scale` holds the mean row length once it is known, also on a later failure.
bool decomposeScaledRigid(const Matrix4x4& m, RigidTransform* out, double* scale, bool* mirrored);

// Everything the scaled decomposition says of one matrix, with the rotation's
// quaternion, so that code comparing and blending the same matrix several times
// decomposes it once. `exact`: rigid as it stands (decomposeRigid held).
struct ScaledRigid {
  RigidTransform rigid;
  Quaternion rotation;  // quaternionFromRotation(rigid.rotation), when ok
  double scale;
  bool mirrored;
  bool ok;
  bool exact;
};
ScaledRigid decomposeScaled(const Matrix4x4& m);
void composeScaledRigid(const RigidTransform& t, double scale, bool mirrored, Matrix4x4* out);
bool inverseAffine(const Matrix4x4& m, Matrix4x4* out);
// out = a * b, every element accumulated in 64-bit.
void multiplyMatrix4x4(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out);
// forward * a = b, backward * b = a.
bool relativeTransforms(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* forward, Matrix4x4* backward);
// The same from matrices already decomposed and inverted (forward = b * inverseA,
// backward = a * inverseB); false when either product is not finite.
bool relativeTransformsOf(const Matrix4x4& a, const Matrix4x4& inverseA, const Matrix4x4& b, const Matrix4x4& inverseB,
                          Matrix4x4* forward, Matrix4x4* backward);
