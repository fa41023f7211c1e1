// The quaternion arithmetic behind quaternion.h, inline so that the palette
// blend runs it per joint without calls. Every operation is written in the
// order in which its results are defined; none may be reordered.
#pragma once
#include <cmath>

#include "math/types.h"

namespace corvane::math {

namespace rotation_core {

// A norm at or below this, or one that is not finite, normalises to the identity.
constexpr double kMinQuaternionNorm = 1e-12;
// Above this cosine two rotations are blended linearly and renormalised.
constexpr double kLinearBlendCosine = 0.9995;
// Below this |sin(theta)| the spherical blend returns its first input.
constexpr double kMinSine = 1e-12;

inline Quaternion normalize(const Quaternion& q) {
  const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (n > kMinQuaternionNorm && isFiniteDouble(n)) return Quaternion{q.w / n, q.x / n, q.y / n, q.z / n};
  return Quaternion{1.0, 0.0, 0.0, 0.0};
}

// m_rc is row r, column c of a rotation, widened to 64-bit.
inline Quaternion fromRotation(double m00, double m01, double m02, double m10, double m11, double m12, double m20,
                               double m21, double m22) {
  const double trace = m00 + m11 + m22;
  Quaternion q;
  if (trace > 0.0) {
    const double s = 2.0 * std::sqrt(trace + 1.0);
    q = Quaternion{0.25 * s, (m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s};
  } else if (m00 > m11 && m00 > m22) {
    const double s = 2.0 * std::sqrt(1.0 + m00 - m11 - m22);
    q = Quaternion{(m21 - m12) / s, 0.25 * s, (m01 + m10) / s, (m02 + m20) / s};
  } else if (m11 > m22) {
    const double s = 2.0 * std::sqrt(1.0 + m11 - m00 - m22);
    q = Quaternion{(m02 - m20) / s, (m01 + m10) / s, 0.25 * s, (m12 + m21) / s};
  } else {
    const double s = 2.0 * std::sqrt(1.0 + m22 - m00 - m11);
    q = Quaternion{(m10 - m01) / s, (m02 + m20) / s, (m12 + m21) / s, 0.25 * s};
  }
  return normalize(q);
}

// The rotation of a quaternion that is already normalised, row r, column c
// written to out[rowStride * r + c].
inline void writeRotation(const Quaternion& q, float* out, int rowStride) {
  const double w = q.w, x = q.x, y = q.y, z = q.z;
  out[0] = static_cast<float>(1.0 - 2.0 * (y * y + z * z));
  out[1] = static_cast<float>(2.0 * (x * y - w * z));
  out[2] = static_cast<float>(2.0 * (x * z + w * y));
  out[rowStride + 0] = static_cast<float>(2.0 * (x * y + w * z));
  out[rowStride + 1] = static_cast<float>(1.0 - 2.0 * (x * x + z * z));
  out[rowStride + 2] = static_cast<float>(2.0 * (y * z - w * x));
  out[2 * rowStride + 0] = static_cast<float>(2.0 * (x * z - w * y));
  out[2 * rowStride + 1] = static_cast<float>(2.0 * (y * z + w * x));
  out[2 * rowStride + 2] = static_cast<float>(1.0 - 2.0 * (x * x + y * y));
}

// The spherical blend from its hemisphere choice on, for inputs that have
// already been through normalize().
inline Quaternion slerpNormalized(const Quaternion& a, Quaternion b, double t) {
  double d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (d < 0.0) {
    b = Quaternion{-b.w, -b.x, -b.y, -b.z};
    d = -d;
  }
  const double c = d >= 1.0 ? 1.0 : (d <= -1.0 ? -1.0 : d);
  if (c > kLinearBlendCosine) {
    return normalize(
        Quaternion{a.w + (b.w - a.w) * t, a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t});
  }
  const double theta = std::acos(c);
  const double s = std::sin(theta);
  if (std::fabs(s) < kMinSine) return a;
  const double wa = std::sin((1.0 - t) * theta) / s;
  const double wb = std::sin(t * theta) / s;
  return normalize(Quaternion{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z});
}

inline Quaternion slerp(const Quaternion& a, const Quaternion& b, double t) {
  return slerpNormalized(normalize(a), normalize(b), t);
}

}  // namespace rotation_core

}  // namespace corvane::math
