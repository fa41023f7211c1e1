#include "math/transform.h"

#include <emmintrin.h>

#include <cmath>

#include "math/palette_blend.h"
#include "math/quaternion.h"
#include "math/rigidity_core.h"

namespace corvane::math {

namespace {

// Bottom row of an affine Matrix4x4, compared in 32-bit arithmetic.
constexpr float kBottomRowTolerance = 0.001f;
// Uniform scale accepted by the scaled decomposition: kMinScale < scale <= kMaxScale.
constexpr double kMinScale = 0.0001;
constexpr double kMaxScale = 100.0;
constexpr double kUniformScaleTolerance = 0.001;  // relative to the mean row length
// Smallest |determinant| that inverseAffine accepts.
constexpr double kMinInverseDeterminant = 1e-8;

using rigidity_core::allFinite;
using rigidity_core::linearPartIsRotation;

bool bottomRowIsAffine(const Matrix4x4& m) {
  return std::fabs(m.m[12]) <= kBottomRowTolerance && std::fabs(m.m[13]) <= kBottomRowTolerance &&
         std::fabs(m.m[14]) <= kBottomRowTolerance && std::fabs(m.m[15] - 1.0f) <= kBottomRowTolerance;
}

double rowLength(const float* row) {
  const double x = row[0], y = row[1], z = row[2];
  return std::sqrt(x * x + y * y + z * z);
}

}  // namespace

bool isFiniteRigidTransform(const RigidTransform& t) {
  for (double v : t.translation) {
    if (!isFiniteDouble(v)) return false;
  }
  return allFinite(t.rotation, 9);
}

bool isRigidMatrix3x4(const Matrix3x4& m) { return rigidity_core::isRigid(m); }

bool decomposeRigid(const Matrix4x4& m, RigidTransform* out) {
  if (!isFiniteMatrix4x4(m) || !bottomRowIsAffine(m) || !linearPartIsRotation(m.m)) return false;
  out->translation[0] = m.m[3];
  out->translation[1] = m.m[7];
  out->translation[2] = m.m[11];
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) out->rotation[3 * c + r] = m.m[4 * r + c];
  }
  return true;  // copies of finite elements, so finite
}

bool decomposeScaledRigid(const Matrix4x4& m, RigidTransform* out, double* scale, bool* mirrored) {
  *mirrored = false;
  if (decomposeRigid(m, out)) {
    *scale = 1.0;
    return true;
  }
  if (!isFiniteMatrix4x4(m) || !bottomRowIsAffine(m)) return false;
  const double l0 = rowLength(&m.m[0]), l1 = rowLength(&m.m[4]), l2 = rowLength(&m.m[8]);
  const double s = (l0 + l1 + l2) / 3.0;
  *scale = s;
  if (!(kMinScale < s && s <= kMaxScale)) return false;
  const double tol = s * kUniformScaleTolerance;
  if (std::fabs(l0 - s) > tol || std::fabs(l1 - s) > tol || std::fabs(l2 - s) > tol) return false;

  Matrix4x4 unscaled = m;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      unscaled.m[4 * r + c] = static_cast<float>(static_cast<double>(m.m[4 * r + c]) / s);
    }
  }
  if (decomposeRigid(unscaled, out)) return true;
  unscaled.m[0] = -unscaled.m[0];
  unscaled.m[4] = -unscaled.m[4];
  unscaled.m[8] = -unscaled.m[8];
  if (!decomposeRigid(unscaled, out)) return false;
  *mirrored = true;
  return true;
}

ScaledRigid decomposeScaled(const Matrix4x4& m) {
  ScaledRigid d;
  d.scale = 1.0;
  d.mirrored = false;
  d.exact = decomposeRigid(m, &d.rigid);
  d.ok = d.exact || decomposeScaledRigid(m, &d.rigid, &d.scale, &d.mirrored);
  if (d.ok) d.rotation = quaternionFromRotation(d.rigid.rotation);
  return d;
}

void composeScaledRigid(const RigidTransform& t, double scale, bool mirrored, Matrix4x4* out) {
  Matrix4x4 result;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      result.m[4 * r + c] = static_cast<float>(static_cast<double>(t.rotation[3 * c + r]) * scale);
    }
    result.m[4 * r + 3] = static_cast<float>(t.translation[r]);
  }
  result.m[12] = 0.0f;
  result.m[13] = 0.0f;
  result.m[14] = 0.0f;
  result.m[15] = 1.0f;
  if (mirrored) {
    result.m[0] = -result.m[0];
    result.m[4] = -result.m[4];
    result.m[8] = -result.m[8];
  }
  *out = result;
}

bool inverseAffine(const Matrix4x4& m, Matrix4x4* out) {
  if (!isFiniteMatrix4x4(m) || !bottomRowIsAffine(m)) return false;
  const double a00 = m.m[0], a01 = m.m[1], a02 = m.m[2];
  const double a10 = m.m[4], a11 = m.m[5], a12 = m.m[6];
  const double a20 = m.m[8], a21 = m.m[9], a22 = m.m[10];
  const double c00 = a11 * a22 - a12 * a21;
  const double c01 = a10 * a22 - a12 * a20;  // minor; the cofactor is its negation
  const double c02 = a10 * a21 - a11 * a20;
  const double det = a00 * c00 - a01 * c01 + a02 * c02;
  if (!isFiniteDouble(det) || std::fabs(det) < kMinInverseDeterminant) return false;

  const double invDet = 1.0 / det;
  Matrix4x4 inv = {};
  // Adjugate (transposed cofactors) times 1/det.
  inv.m[0] = static_cast<float>(c00 * invDet);
  inv.m[1] = static_cast<float>((a02 * a21 - a01 * a22) * invDet);
  inv.m[2] = static_cast<float>((a01 * a12 - a02 * a11) * invDet);
  inv.m[4] = static_cast<float>(-c01 * invDet);
  inv.m[5] = static_cast<float>((a00 * a22 - a02 * a20) * invDet);
  inv.m[6] = static_cast<float>((a02 * a10 - a00 * a12) * invDet);
  inv.m[8] = static_cast<float>(c02 * invDet);
  inv.m[9] = static_cast<float>((a01 * a20 - a00 * a21) * invDet);
  inv.m[10] = static_cast<float>((a00 * a11 - a01 * a10) * invDet);

  const float tx = m.m[3], ty = m.m[7], tz = m.m[11];
  for (int r = 0; r < 3; ++r) {
    const float* row = &inv.m[4 * r];
    inv.m[4 * r + 3] = -((row[1] * ty + row[0] * tx) + row[2] * tz);
  }
  inv.m[15] = 1.0f;
  *out = inv;
  return isFiniteMatrix4x4(*out);
}

void multiplyMatrix4x4(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out) {
  if (avxPaletteBlendAvailable()) multiplyMatrix4x4Avx(a, b, out);
  else multiplyMatrix4x4Sse2(a, b, out);
}

void rewriteSlotForms(const Matrix4x4& forward, const Matrix4x4& inverse, const SlotForms& in, SlotForms* out) {
  if (avxPaletteBlendAvailable()) rewriteSlotFormsAvx(forward, inverse, in, out);
  else rewriteSlotFormsSse2(forward, inverse, in, out);
}

void rewriteSlotFormsSse2(const Matrix4x4& forward, const Matrix4x4& inverse, const SlotForms& in, SlotForms* out) {
  Matrix4x4 world, step;
  multiplyMatrix4x4Sse2(forward, in.world, &world);
  multiplyMatrix4x4Sse2(in.inverse, world, &step);
  multiplyMatrix4x4Sse2(in.inverse, inverse, &out->inverse);
  multiplyMatrix4x4Sse2(in.derived1, step, &out->derived1);
  multiplyMatrix4x4Sse2(in.derived2, step, &out->derived2);
  out->world = world;
}

void multiplyMatrix4x4Sse2(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out) {
  // Two columns per register: element (i, j) is still 0 + a_i0*b_0j + a_i1*b_1j +
  // a_i2*b_2j + a_i3*b_3j, added in that order in 64-bit and rounded once.
  __m128d left[4], right[4];  // row k of b widened: columns 0-1 and 2-3
  for (int k = 0; k < 4; ++k) {
    const __m128 row = _mm_loadu_ps(&b.m[4 * k]);
    left[k] = _mm_cvtps_pd(row);
    right[k] = _mm_cvtps_pd(_mm_movehl_ps(row, row));
  }
  Matrix4x4 product;
  for (int i = 0; i < 4; ++i) {
    __m128d sumLeft = _mm_setzero_pd(), sumRight = _mm_setzero_pd();
    for (int k = 0; k < 4; ++k) {
      const __m128d factor = _mm_set1_pd(static_cast<double>(a.m[4 * i + k]));
      sumLeft = _mm_add_pd(sumLeft, _mm_mul_pd(factor, left[k]));
      sumRight = _mm_add_pd(sumRight, _mm_mul_pd(factor, right[k]));
    }
    _mm_storeu_ps(&product.m[4 * i], _mm_movelh_ps(_mm_cvtpd_ps(sumLeft), _mm_cvtpd_ps(sumRight)));
  }
  *out = product;
}

bool relativeTransforms(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* forward, Matrix4x4* backward) {
  RigidTransform ra, rb;
  double scaleA, scaleB;
  bool mirroredA, mirroredB;
  if (!decomposeScaledRigid(a, &ra, &scaleA, &mirroredA) || !decomposeScaledRigid(b, &rb, &scaleB, &mirroredB) ||
      mirroredA != mirroredB) {
    return false;
  }
  Matrix4x4 inverseA, inverseB;
  if (!inverseAffine(a, &inverseA) || !inverseAffine(b, &inverseB)) return false;
  return relativeTransformsOf(a, inverseA, b, inverseB, forward, backward);
}

bool relativeTransformsOf(const Matrix4x4& a, const Matrix4x4& inverseA, const Matrix4x4& b, const Matrix4x4& inverseB,
                          Matrix4x4* forward, Matrix4x4* backward) {
  Matrix4x4 f, g;
  multiplyMatrix4x4(b, inverseA, &f);
  multiplyMatrix4x4(a, inverseB, &g);
  *forward = f;
  *backward = g;
  return isFiniteMatrix4x4(f) && isFiniteMatrix4x4(g);
}

}  // namespace corvane::math
