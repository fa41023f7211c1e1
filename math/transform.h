// Validation, decomposition, inversion and products of transforms. Stateless,
// allocation-free; failure is a false result.
#pragma once
#include <emmintrin.h>

#include "math/types.h"

namespace corvane::math {

// The exponent test of every element, four at a time (inline: it guards every
// product and inverse): lanes set where an element is an infinity or a NaN.
inline __m128i notFiniteLanes(const Matrix4x4& m) {
  const __m128i exponent = _mm_set1_epi32(0x7F800000);
  __m128i notFinite = _mm_setzero_si128();
#pragma GCC unroll 4
  for (int i = 0; i < 16; i += 4) {
    const __m128i bits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&m.m[i]));
    notFinite = _mm_or_si128(notFinite, _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent));
  }
  return notFinite;
}
inline bool isFiniteMatrix4x4(const Matrix4x4& m) { return _mm_movemask_epi8(notFiniteLanes(m)) == 0; }
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
// The four forms of one frame slot: the world matrix W, its inverse V and two
// matrices derived from W, D1 and D2.
struct SlotForms {
  Matrix4x4 world;
  Matrix4x4 inverse;
  Matrix4x4 derived1;
  Matrix4x4 derived2;
};
// The slot's forms under the pair (F, G): W' = F*W, V' = V*G and
// Dk' = Dk*(V*W'), each product as multiplyMatrix4x4 gives it. `out` may be `in`.
void rewriteSlotForms(const Matrix4x4& forward, const Matrix4x4& inverse, const SlotForms& in, SlotForms* out);
// forward * a = b, backward * b = a.
bool relativeTransforms(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* forward, Matrix4x4* backward);
// The same from matrices already decomposed and inverted (forward = b * inverseA,
// backward = a * inverseB); false when either product is not finite.
bool relativeTransformsOf(const Matrix4x4& a, const Matrix4x4& inverseA, const Matrix4x4& b, const Matrix4x4& inverseB,
                          Matrix4x4* forward, Matrix4x4* backward);

}  // namespace corvane::math
