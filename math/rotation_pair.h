// The palette blend's rotation arithmetic for two joints at once, one joint
// per SSE2 lane. Each lane performs exactly the operations of rotation_core.h
// in the same order (IEEE operations are the same in a lane as in a scalar
// register), so a pair gives bit for bit the results of two scalar blends.
#pragma once
#include <emmintrin.h>

#include "math/rotation_core.h"

namespace rotation_pair {

typedef double Pair __attribute__((vector_size(16)));
typedef decltype(Pair{} > Pair{}) Mask;  // all ones in a lane where a comparison holds

struct QuaternionPair {
  Pair w, x, y, z;
};

inline Pair splat(double v) { return Pair{v, v}; }
inline Pair root(Pair v) { return _mm_sqrt_pd(v); }
inline Pair select(Mask m, Pair a, Pair b) { return m ? a : b; }

inline Mask finite(Pair v) {
  const Mask exponent = {0x7FF0000000000000ll, 0x7FF0000000000000ll};
  return ((Mask)v & exponent) != exponent;
}

inline Quaternion lane(const QuaternionPair& q, int i) { return Quaternion{q.w[i], q.x[i], q.y[i], q.z[i]}; }

inline QuaternionPair normalize(const QuaternionPair& q) {
  const Pair n = root(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  const Mask ok = (n > splat(rotation_core::kMinQuaternionNorm)) & finite(n);
  return QuaternionPair{select(ok, q.w / n, splat(1.0)), select(ok, q.x / n, splat(0.0)),
                        select(ok, q.y / n, splat(0.0)), select(ok, q.z / n, splat(0.0))};
}

// rotation_core::fromRotation with the branch chosen per lane.
inline QuaternionPair fromRotation(Pair m00, Pair m01, Pair m02, Pair m10, Pair m11, Pair m12, Pair m20, Pair m21,
                                   Pair m22) {
  const Pair one = splat(1.0);
  const Pair trace = m00 + m11 + m22;
  const Mask b1 = trace > splat(0.0);
  const Mask b2 = ~b1 & (m00 > m11) & (m00 > m22);
  const Mask b3 = ~b1 & ~b2 & (m11 > m22);
  const Mask b4 = ~b1 & ~b2 & ~b3;
  const Pair arg = select(b1, trace + one,
                          select(b2, one + m00 - m11 - m22, select(b3, one + m11 - m00 - m22, one + m22 - m00 - m11)));
  const Pair s = splat(2.0) * root(arg);
  const Pair quarter = splat(0.25) * s;
  const Pair a = m21 - m12, b = m02 - m20, c = m10 - m01;
  const Pair d = m01 + m10, e = m02 + m20, f = m12 + m21;
  QuaternionPair q;
  q.w = select(b1, quarter, select(b2, a, select(b3, b, c)) / s);
  q.x = select(b2, quarter, select(b1, a, select(b3, d, e)) / s);
  q.y = select(b3, quarter, select(b1, b, select(b2, d, f)) / s);
  q.z = select(b4, quarter, select(b1, c, select(b2, e, f)) / s);
  return normalize(q);
}

// rotation_core::slerp; lanes outside the linear branch are finished by the
// scalar code from the same normalised inputs.
inline QuaternionPair slerp(const QuaternionPair& qa, const QuaternionPair& qb, double t) {
  const QuaternionPair a = normalize(qa);
  const QuaternionPair bn = normalize(qb);
  QuaternionPair b = bn;
  Pair d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  const Mask flip = d < splat(0.0);
  b = QuaternionPair{select(flip, -b.w, b.w), select(flip, -b.x, b.x), select(flip, -b.y, b.y),
                     select(flip, -b.z, b.z)};
  d = select(flip, -d, d);
  const Pair c = select(d >= splat(1.0), splat(1.0), select(d <= splat(-1.0), splat(-1.0), d));
  const Mask linear = c > splat(rotation_core::kLinearBlendCosine);
  const Pair tt = splat(t);
  QuaternionPair r = normalize(QuaternionPair{a.w + (b.w - a.w) * tt, a.x + (b.x - a.x) * tt,
                                              a.y + (b.y - a.y) * tt, a.z + (b.z - a.z) * tt});
  for (int i = 0; i < 2; ++i) {
    if (linear[i]) continue;
    const Quaternion q = rotation_core::slerpNormalized(lane(a, i), lane(bn, i), t);
    r.w[i] = q.w;
    r.x[i] = q.x;
    r.y[i] = q.y;
    r.z[i] = q.z;
  }
  return r;
}

}  // namespace rotation_pair
