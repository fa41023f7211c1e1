// An independent long-double model of rotations and transforms for the math
// tests: rotations come from axis and angle, never from the code under test.
#pragma once
#include <cmath>
#include <cstdint>
#include <random>

#include "math/types.h"

namespace ref {

using Real = long double;

struct Mat3 {
  Real a[3][3];
};

struct Vec3 {
  Real v[3];
};

inline Vec3 normalized(Vec3 v) {
  const Real n = std::sqrt(v.v[0] * v.v[0] + v.v[1] * v.v[1] + v.v[2] * v.v[2]);
  return Vec3{{v.v[0] / n, v.v[1] / n, v.v[2] / n}};
}

// Rodrigues: R = I + sin(a) K + (1 - cos(a)) K^2 for the unit axis n.
inline Mat3 axisAngle(Vec3 axis, Real angle) {
  const Vec3 n = normalized(axis);
  const Real x = n.v[0], y = n.v[1], z = n.v[2];
  const Real s = std::sin(angle), c = std::cos(angle), k = 1 - c;
  return Mat3{{{c + x * x * k, x * y * k - z * s, x * z * k + y * s},
               {y * x * k + z * s, c + y * y * k, y * z * k - x * s},
               {z * x * k - y * s, z * y * k + x * s, c + z * z * k}}};
}

inline Mat3 mul(const Mat3& p, const Mat3& q) {
  Mat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r.a[i][j] += p.a[i][k] * q.a[k][j];
  return r;
}

inline Mat3 transpose(const Mat3& p) {
  Mat3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.a[i][j] = p.a[j][i];
  return r;
}

// Axis and angle (0..pi) of a rotation whose angle is well below pi; the
// angle from both its sine and cosine, well conditioned for small angles.
inline void toAxisAngle(const Mat3& r, Vec3* axis, Real* angle) {
  const Real c = (r.a[0][0] + r.a[1][1] + r.a[2][2] - 1) / 2;
  Vec3 v{{r.a[2][1] - r.a[1][2], r.a[0][2] - r.a[2][0], r.a[1][0] - r.a[0][1]}};
  const Real n = std::sqrt(v.v[0] * v.v[0] + v.v[1] * v.v[1] + v.v[2] * v.v[2]);
  *angle = std::atan2(n / 2, c);
  *axis = n > 0 ? Vec3{{v.v[0] / n, v.v[1] / n, v.v[2] / n}} : Vec3{{1, 0, 0}};
}

// The rotation a fraction t of the way along the shortest arc from ra to rb
// (t outside 0..1 continues along the same arc).
inline Mat3 arcBlend(const Mat3& ra, const Mat3& rb, Real t) {
  Vec3 axis;
  Real angle;
  toAxisAngle(mul(transpose(ra), rb), &axis, &angle);
  return mul(ra, axisAngle(axis, angle * t));
}

inline Real angleBetween(const Mat3& ra, const Mat3& rb) {
  Vec3 axis;
  Real angle;
  toAxisAngle(mul(transpose(ra), rb), &axis, &angle);
  return angle;
}

struct Random {
  std::mt19937_64 engine;
  explicit Random(uint64_t seed) : engine(seed) {}
  Real uniform(Real lo, Real hi) { return std::uniform_real_distribution<double>(double(lo), double(hi))(engine); }
  Vec3 direction() {
    for (;;) {
      Vec3 v{{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)}};
      const Real n2 = v.v[0] * v.v[0] + v.v[1] * v.v[1] + v.v[2] * v.v[2];
      if (n2 > 0.01L && n2 <= 1) return normalized(v);
    }
  }
  Mat3 rotation() { return axisAngle(direction(), uniform(0, 3.14159L)); }
  // A second rotation at exactly `angle` from r, about a random axis.
  Mat3 rotationAway(const Mat3& r, Real angle) { return mul(r, axisAngle(direction(), angle)); }
};

// A scaled, optionally mirrored affine matrix: linear part R * scale with the
// first column negated when mirrored.
inline Matrix4x4 affine(const Mat3& r, Real scale, bool mirrored, const Vec3& t) {
  Matrix4x4 m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.m[4 * i + j] = float(r.a[i][j] * scale * (mirrored && j == 0 ? -1 : 1));
    m.m[4 * i + 3] = float(t.v[i]);
  }
  m.m[15] = 1.0f;
  return m;
}

inline Matrix3x4 rigid3x4(const Mat3& r, const Vec3& t) {
  Matrix3x4 m{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.m[4 * i + j] = float(r.a[i][j]);
    m.m[4 * i + 3] = float(t.v[i]);
  }
  return m;
}

// The linear part of a Matrix4x4 in long double.
inline Mat3 linear(const Matrix4x4& m) {
  Mat3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.a[i][j] = m.m[4 * i + j];
  return r;
}

inline Mat3 identity() { return Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

}  // namespace ref
