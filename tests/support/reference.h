// The one independent long-double model of rotations and transforms, for the
// tests and the stand-in host: rotations come from axis and angle, never from
// the code under test. Header-only, so that the Windows stand-in links it too.
#pragma once
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>

#include "math/types.h"

using namespace corvane::math;

namespace ref {

using Real = long double;
constexpr Real kPi = 3.14159265358979323846264338327950288L;

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

inline Mat3 axisDegrees(Vec3 axis, Real degrees) { return axisAngle(axis, degrees * kPi / 180); }

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

// The linear part of a Matrix4x4 or Matrix3x4 (rows of four) in long double.
template <typename M>
inline Mat3 linear(const M& m) {
  Mat3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.a[i][j] = m.m[4 * i + j];
  return r;
}

// A rotation block stored column by column (element 3c + r is row r, column c).
inline Mat3 fromColumns(const float block[9]) {
  Mat3 r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.a[i][j] = block[3 * j + i];
  return r;
}

// A rigid joint: rotation by `degrees` about `axis`, then translation.
inline Matrix3x4 joint(Vec3 axis, Real degrees, const Vec3& t) { return rigid3x4(axisDegrees(axis, degrees), t); }

// Two joints blended: rotation along the shortest arc, translation linearly.
inline Matrix3x4 blend(const Matrix3x4& from, const Matrix3x4& to, Real t) {
  Vec3 moved;
  for (int i = 0; i < 3; ++i) {
    const Real a = from.m[4 * i + 3], b = to.m[4 * i + 3];
    moved.v[i] = a + (b - a) * t;
  }
  return rigid3x4(arcBlend(linear(from), linear(to), t), moved);
}

inline Mat3 identity() { return Mat3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}; }

}  // namespace ref

// Placements for the stand-in host: 4x4 transforms, row-major, acting on
// column vectors (translation in elements 3, 7 and 11), composed, inverted
// and blended (translation and scale linearly, rotation along the shortest
// arc) as the interpolated transforms must come out.
struct WideMatrix {
  long double m[16];
};

inline long double wideAt(const WideMatrix& a, int r, int c) { return a.m[r * 4 + c]; }

inline WideMatrix wideIdentity() {
  WideMatrix r{};
  r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0L;
  return r;
}

// The linear part replaced by `r`, the rest of `a` kept.
inline WideMatrix wideWithLinear(WideMatrix a, const ref::Mat3& r) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a.m[i * 4 + j] = r.a[i][j];
  return a;
}

inline WideMatrix wideProduct(const WideMatrix& a, const WideMatrix& b) {
  WideMatrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i * 4 + j] += wideAt(a, i, k) * wideAt(b, k, j);
  return r;
}

inline long double wideDeterminant(const WideMatrix& a) {
  return wideAt(a, 0, 0) * (wideAt(a, 1, 1) * wideAt(a, 2, 2) - wideAt(a, 1, 2) * wideAt(a, 2, 1)) -
         wideAt(a, 0, 1) * (wideAt(a, 1, 0) * wideAt(a, 2, 2) - wideAt(a, 1, 2) * wideAt(a, 2, 0)) +
         wideAt(a, 0, 2) * (wideAt(a, 1, 0) * wideAt(a, 2, 1) - wideAt(a, 1, 1) * wideAt(a, 2, 0));
}

// Inverse of an affine transform (any invertible linear part).
inline WideMatrix wideInverse(const WideMatrix& a) {
  const long double d = wideDeterminant(a);
  WideMatrix r = wideIdentity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      // Cofactor of (j, i) over the determinant.
      const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
      r.m[i * 4 + j] = (wideAt(a, r0, c0) * wideAt(a, r1, c1) - wideAt(a, r0, c1) * wideAt(a, r1, c0)) / d;
    }
  for (int i = 0; i < 3; ++i)
    r.m[i * 4 + 3] = -(r.m[i * 4 + 0] * a.m[3] + r.m[i * 4 + 1] * a.m[7] + r.m[i * 4 + 2] * a.m[11]);
  return r;
}

// Rotation by `degrees` about the axis (x, y, z), then translation (tx, ty, tz).
inline WideMatrix wideRotation(long double x, long double y, long double z, long double degrees, long double tx = 0,
                               long double ty = 0, long double tz = 0) {
  WideMatrix r = wideWithLinear(wideIdentity(), ref::axisDegrees({{x, y, z}}, degrees));
  r.m[3] = tx, r.m[7] = ty, r.m[11] = tz;
  return r;
}

// Scales the linear part's columns (the model side): x by sx, y by sy, z by sz.
inline WideMatrix wideScaledColumns(const WideMatrix& a, long double sx, long double sy, long double sz) {
  WideMatrix r = a;
  for (int row = 0; row < 3; ++row) {
    r.m[row * 4 + 0] *= sx;
    r.m[row * 4 + 1] *= sy;
    r.m[row * 4 + 2] *= sz;
  }
  return r;
}

inline void narrowMatrix(const WideMatrix& a, float out[16]) {
  for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(a.m[i]);
}

inline WideMatrix widenMatrix(const float m[16]) {
  WideMatrix r;
  for (int i = 0; i < 16; ++i) r.m[i] = m[i];
  return r;
}

// The 12 floats of a 3x4 palette entry (rows of four) as a transform.
inline WideMatrix widenEntry(const float entry[12]) {
  WideMatrix r = wideIdentity();
  for (int i = 0; i < 12; ++i) r.m[i] = entry[i];
  return r;
}

// Uniform scale, mirror flag (a reflection of the x column) and rotation of a
// placement; false when it is not a rotation times a uniform scale.
inline bool widePlacement(const WideMatrix& a, long double* scale, bool* mirrored, ref::Mat3* rotation) {
  constexpr long double kPlacementTolerance = 1e-4L;
  const long double d = wideDeterminant(a);
  if (!(std::fabs(d) > 1e-12L)) return false;
  *mirrored = d < 0.0L;
  *scale = std::cbrt(std::fabs(d));
  *rotation = ref::linear(wideScaledColumns(a, (*mirrored ? -1.0L : 1.0L) / *scale, 1.0L / *scale, 1.0L / *scale));
  // A rotation: orthonormal columns.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      long double dot = 0.0L;
      for (int k = 0; k < 3; ++k) dot += rotation->a[k][i] * rotation->a[k][j];
      if (std::fabs(dot - (i == j ? 1.0L : 0.0L)) > kPlacementTolerance) return false;
    }
  return true;
}

// Angle (degrees) of the turn between the rotations of two placements.
inline long double wideTurnDegrees(const WideMatrix& a, const WideMatrix& b) {
  long double sa, sb;
  bool ma, mb;
  ref::Mat3 ra, rb;
  if (!widePlacement(a, &sa, &ma, &ra) || !widePlacement(b, &sb, &mb, &rb)) return 360.0L;
  return ref::angleBetween(ra, rb) * 180.0L / ref::kPi;
}

inline long double wideDistance(const WideMatrix& a, const WideMatrix& b) {
  long double sum = 0.0L;
  for (int i : {3, 7, 11}) sum += (a.m[i] - b.m[i]) * (a.m[i] - b.m[i]);
  return std::sqrt(sum);
}

// The blend of two placements at `alpha` (not clamped). False when either is
// not a placement, or when one is mirrored and the other is not.
inline bool wideBlend(const WideMatrix& from, const WideMatrix& to, long double alpha, WideMatrix* out) {
  long double sa, sb;
  bool ma, mb;
  ref::Mat3 ra, rb;
  if (!widePlacement(from, &sa, &ma, &ra) || !widePlacement(to, &sb, &mb, &rb) || ma != mb) return false;
  const long double scale = sa + (sb - sa) * alpha;
  WideMatrix r = wideScaledColumns(wideWithLinear(wideIdentity(), ref::arcBlend(ra, rb, alpha)),
                                   (ma ? -1.0L : 1.0L) * scale, scale, scale);
  for (int i : {3, 7, 11}) r.m[i] = from.m[i] + (to.m[i] - from.m[i]) * alpha;
  *out = r;
  return true;
}

// Largest difference of the 16 elements: linear and bottom-row elements
// relative to max(1, |wanted|), translations relative to max(1, its length),
// since inverses and products build them from sums of terms that large.
inline double relativeError(const float got[16], const WideMatrix& wanted) {
  const long double reach =
      std::fmax(1.0L, std::sqrt(wanted.m[3] * wanted.m[3] + wanted.m[7] * wanted.m[7] + wanted.m[11] * wanted.m[11]));
  double worst = 0.0;
  for (int i = 0; i < 16; ++i) {
    const long double w = wanted.m[i];
    const bool translation = i == 3 || i == 7 || i == 11;
    const long double e = std::fabs(got[i] - w) / (translation ? reach : std::fmax(1.0L, std::fabs(w)));
    worst = std::fmax(worst, static_cast<double>(e));
  }
  return worst;
}
