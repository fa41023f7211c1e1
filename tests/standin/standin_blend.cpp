#include "tests/standin/standin_blend.h"

#include <cmath>
#include <initializer_list>

namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;
constexpr long double kPlacementTolerance = 1e-4L;

long double at(const WideMatrix& a, int r, int c) { return a.m[r * 4 + c]; }

long double det3(const WideMatrix& a) {
  return at(a, 0, 0) * (at(a, 1, 1) * at(a, 2, 2) - at(a, 1, 2) * at(a, 2, 1)) -
         at(a, 0, 1) * (at(a, 1, 0) * at(a, 2, 2) - at(a, 1, 2) * at(a, 2, 0)) +
         at(a, 0, 2) * (at(a, 1, 0) * at(a, 2, 1) - at(a, 1, 1) * at(a, 2, 0));
}

// Angle and unit axis of the rotation part of `r` (a proper rotation).
long double axisAngle(const WideMatrix& r, long double axis[3]) {
  const long double trace = at(r, 0, 0) + at(r, 1, 1) + at(r, 2, 2);
  const long double c = std::fmax(-1.0L, std::fmin(1.0L, (trace - 1.0L) / 2.0L));
  axis[0] = at(r, 2, 1) - at(r, 1, 2);
  axis[1] = at(r, 0, 2) - at(r, 2, 0);
  axis[2] = at(r, 1, 0) - at(r, 0, 1);
  const long double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  if (length > 0.0L) {
    for (int i = 0; i < 3; ++i) axis[i] /= length;
  } else {
    axis[0] = 1.0L, axis[1] = axis[2] = 0.0L;
  }
  return std::acos(c);
}

WideMatrix transposedRotation(const WideMatrix& a) {
  WideMatrix r = wideIdentity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i * 4 + j] = at(a, j, i);
  return r;
}

}  // namespace

WideMatrix wideIdentity() {
  WideMatrix r{};
  r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0L;
  return r;
}

WideMatrix wideProduct(const WideMatrix& a, const WideMatrix& b) {
  WideMatrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i * 4 + j] += at(a, i, k) * at(b, k, j);
  return r;
}

WideMatrix wideInverse(const WideMatrix& a) {
  const long double d = det3(a);
  WideMatrix r = wideIdentity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      // Cofactor of (j, i) over the determinant.
      const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
      r.m[i * 4 + j] = (at(a, r0, c0) * at(a, r1, c1) - at(a, r0, c1) * at(a, r1, c0)) / d;
    }
  for (int i = 0; i < 3; ++i)
    r.m[i * 4 + 3] = -(r.m[i * 4 + 0] * a.m[3] + r.m[i * 4 + 1] * a.m[7] + r.m[i * 4 + 2] * a.m[11]);
  return r;
}

WideMatrix wideRotation(long double x, long double y, long double z, long double degrees, long double tx,
                        long double ty, long double tz) {
  const long double angle = degrees * kPi / 180.0L;
  const long double s = std::sin(angle), v = 1.0L - std::cos(angle);
  WideMatrix r = {{1 - v * (y * y + z * z), -s * z + v * x * y, s * y + v * x * z, tx,
                   s * z + v * x * y, 1 - v * (x * x + z * z), -s * x + v * y * z, ty,
                   -s * y + v * x * z, s * x + v * y * z, 1 - v * (x * x + y * y), tz,
                   0, 0, 0, 1}};
  return r;
}

WideMatrix wideScaledColumns(const WideMatrix& a, long double sx, long double sy, long double sz) {
  WideMatrix r = a;
  for (int row = 0; row < 3; ++row) {
    r.m[row * 4 + 0] *= sx;
    r.m[row * 4 + 1] *= sy;
    r.m[row * 4 + 2] *= sz;
  }
  return r;
}

void narrowMatrix(const WideMatrix& a, float out[16]) {
  for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(a.m[i]);
}

WideMatrix widenMatrix(const float m[16]) {
  WideMatrix r;
  for (int i = 0; i < 16; ++i) r.m[i] = m[i];
  return r;
}

WideMatrix widenEntry(const float entry[12]) {
  WideMatrix r = wideIdentity();
  for (int i = 0; i < 12; ++i) r.m[i] = entry[i];
  return r;
}

bool widePlacement(const WideMatrix& a, long double* scale, bool* mirrored, WideMatrix* rotation) {
  const long double d = det3(a);
  if (!(std::fabs(d) > 1e-12L)) return false;
  *mirrored = d < 0.0L;
  *scale = std::cbrt(std::fabs(d));
  WideMatrix r = wideScaledColumns(a, (*mirrored ? -1.0L : 1.0L) / *scale, 1.0L / *scale, 1.0L / *scale);
  // A rotation: orthonormal columns.
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      long double dot = 0.0L;
      for (int k = 0; k < 3; ++k) dot += at(r, k, i) * at(r, k, j);
      if (std::fabs(dot - (i == j ? 1.0L : 0.0L)) > kPlacementTolerance) return false;
    }
  r.m[3] = r.m[7] = r.m[11] = 0.0L;
  *rotation = r;
  return true;
}

long double wideTurnDegrees(const WideMatrix& a, const WideMatrix& b) {
  long double sa, sb, axis[3];
  bool ma, mb;
  WideMatrix ra, rb;
  if (!widePlacement(a, &sa, &ma, &ra) || !widePlacement(b, &sb, &mb, &rb)) return 360.0L;
  return axisAngle(wideProduct(transposedRotation(ra), rb), axis) * 180.0L / kPi;
}

long double wideDistance(const WideMatrix& a, const WideMatrix& b) {
  long double sum = 0.0L;
  for (int i : {3, 7, 11}) sum += (a.m[i] - b.m[i]) * (a.m[i] - b.m[i]);
  return std::sqrt(sum);
}

bool wideBlend(const WideMatrix& from, const WideMatrix& to, long double alpha, WideMatrix* out) {
  long double sa, sb, axis[3];
  bool ma, mb;
  WideMatrix ra, rb;
  if (!widePlacement(from, &sa, &ma, &ra) || !widePlacement(to, &sb, &mb, &rb) || ma != mb) return false;
  const long double angle = axisAngle(wideProduct(transposedRotation(ra), rb), axis);
  WideMatrix r = wideProduct(ra, wideRotation(axis[0], axis[1], axis[2], angle * alpha * 180.0L / kPi));
  const long double scale = sa + (sb - sa) * alpha;
  r = wideScaledColumns(r, (ma ? -1.0L : 1.0L) * scale, scale, scale);
  for (int i : {3, 7, 11}) r.m[i] = from.m[i] + (to.m[i] - from.m[i]) * alpha;
  *out = r;
  return true;
}

double relativeError(const float got[16], const WideMatrix& wanted) {
  // Linear elements against their own size; translations against the
  // translation's length, since inverses and products build them from sums of
  // terms that large.
  const long double reach = std::fmax(1.0L, std::sqrt(wanted.m[3] * wanted.m[3] + wanted.m[7] * wanted.m[7] +
                                                      wanted.m[11] * wanted.m[11]));
  double worst = 0.0;
  for (int i = 0; i < 16; ++i) {
    const long double w = wanted.m[i];
    const bool translation = i == 3 || i == 7 || i == 11;
    const long double e = std::fabs(got[i] - w) / (translation ? reach : std::fmax(1.0L, std::fabs(w)));
    worst = std::fmax(worst, static_cast<double>(e));
  }
  return worst;
}
