// The rigidity test of a 3x3 linear part, inline for the per-joint palette
// validation. Only the boolean result is observable, so every check is
// evaluated and the results are combined without branches.
#pragma once
#include <cmath>

#include "math/types.h"

namespace corvane::math {

namespace rigidity_core {

// Compared in 64-bit arithmetic.
constexpr double kRowLengthTolerance = 0.01;      // on the squared length
constexpr double kOrthogonalityTolerance = 0.01;  // on each row dot product
constexpr double kDeterminantTolerance = 0.02;

inline bool allFinite(const float* v, int count) {
  bool finite = true;
  for (int i = 0; i < count; ++i) finite &= isFiniteFloat(v[i]);
  return finite;
}

// Row lengths, orthogonality and determinant of the linear part of a matrix
// whose rows are four floats apart (Matrix3x4 and Matrix4x4 alike).
inline bool linearPartIsRotation(const float* m) {
  const double a0 = m[0], a1 = m[1], a2 = m[2];
  const double b0 = m[4], b1 = m[5], b2 = m[6];
  const double c0 = m[8], c1 = m[9], c2 = m[10];
  bool ok = std::fabs(a0 * a0 + a1 * a1 + a2 * a2 - 1.0) <= kRowLengthTolerance;
  ok &= std::fabs(b0 * b0 + b1 * b1 + b2 * b2 - 1.0) <= kRowLengthTolerance;
  ok &= std::fabs(c0 * c0 + c1 * c1 + c2 * c2 - 1.0) <= kRowLengthTolerance;
  ok &= std::fabs(a0 * b0 + a1 * b1 + a2 * b2) <= kOrthogonalityTolerance;
  ok &= std::fabs(a0 * c0 + a1 * c1 + a2 * c2) <= kOrthogonalityTolerance;
  ok &= std::fabs(b0 * c0 + b1 * c1 + b2 * c2) <= kOrthogonalityTolerance;
  const float det =
      m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) + m[2] * (m[4] * m[9] - m[5] * m[8]);
  ok &= std::fabs(static_cast<double>(det) - 1.0) <= kDeterminantTolerance;
  return ok;
}

inline bool isRigid(const Matrix3x4& m) { return allFinite(m.m, 12) & linearPartIsRotation(m.m); }

}  // namespace rigidity_core

}  // namespace corvane::math
