// An independent reference for the palette blend: quaternions in long double,
// extracted by the largest-component method, blended on the great arc.
#pragma once
#include <cmath>

#include "math/types.h"

struct ReferenceQuaternion {
  long double w, x, y, z;
};

inline ReferenceQuaternion referenceQuaternion(const Matrix3x4& joint) {
  auto m = [&](int r, int c) { return (long double)joint.m[4 * r + c]; };
  const long double w2 = 1 + m(0, 0) + m(1, 1) + m(2, 2), x2 = 1 + m(0, 0) - m(1, 1) - m(2, 2),
                    y2 = 1 - m(0, 0) + m(1, 1) - m(2, 2), z2 = 1 - m(0, 0) - m(1, 1) + m(2, 2);
  ReferenceQuaternion q;
  if (w2 >= x2 && w2 >= y2 && w2 >= z2) {
    q.w = std::sqrt(w2) / 2;
    q.x = (m(2, 1) - m(1, 2)) / (4 * q.w);
    q.y = (m(0, 2) - m(2, 0)) / (4 * q.w);
    q.z = (m(1, 0) - m(0, 1)) / (4 * q.w);
  } else if (x2 >= y2 && x2 >= z2) {
    q.x = std::sqrt(x2) / 2;
    q.w = (m(2, 1) - m(1, 2)) / (4 * q.x);
    q.y = (m(0, 1) + m(1, 0)) / (4 * q.x);
    q.z = (m(0, 2) + m(2, 0)) / (4 * q.x);
  } else if (y2 >= z2) {
    q.y = std::sqrt(y2) / 2;
    q.w = (m(0, 2) - m(2, 0)) / (4 * q.y);
    q.x = (m(0, 1) + m(1, 0)) / (4 * q.y);
    q.z = (m(1, 2) + m(2, 1)) / (4 * q.y);
  } else {
    q.z = std::sqrt(z2) / 2;
    q.w = (m(1, 0) - m(0, 1)) / (4 * q.z);
    q.x = (m(0, 2) + m(2, 0)) / (4 * q.z);
    q.y = (m(1, 2) + m(2, 1)) / (4 * q.z);
  }
  const long double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  return {q.w / n, q.x / n, q.y / n, q.z / n};
}

inline Matrix3x4 referenceBlend(const Matrix3x4& from, const Matrix3x4& to, long double t) {
  ReferenceQuaternion a = referenceQuaternion(from), b = referenceQuaternion(to);
  long double d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (d < 0) {
    b = {-b.w, -b.x, -b.y, -b.z};
    d = -d;
  }
  const long double theta = std::acos(std::fmin(d, 1.0L));
  long double wa = 1 - t, wb = t;
  if (theta > 1e-9L) {
    wa = std::sin((1 - t) * theta) / std::sin(theta);
    wb = std::sin(t * theta) / std::sin(theta);
  }
  ReferenceQuaternion q{wa * a.w + wb * b.w, wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
  const long double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  const long double w = q.w / n, x = q.x / n, y = q.y / n, z = q.z / n;
  Matrix3x4 out;
  out.m[0] = float(1 - 2 * (y * y + z * z));
  out.m[1] = float(2 * (x * y - w * z));
  out.m[2] = float(2 * (x * z + w * y));
  out.m[4] = float(2 * (x * y + w * z));
  out.m[5] = float(1 - 2 * (x * x + z * z));
  out.m[6] = float(2 * (y * z - w * x));
  out.m[8] = float(2 * (x * z - w * y));
  out.m[9] = float(2 * (y * z + w * x));
  out.m[10] = float(1 - 2 * (x * x + y * y));
  for (int r = 0; r < 3; ++r) {
    const long double a0 = from.m[4 * r + 3], b0 = to.m[4 * r + 3];
    out.m[4 * r + 3] = float(a0 + (b0 - a0) * t);
  }
  return out;
}
