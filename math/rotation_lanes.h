// The palette blend's rotation arithmetic for several joints at once, one
// joint per double lane of a vector `V` (GCC vector extension). Each lane
// performs exactly the operations of rotation_core.h in the same order (an
// IEEE operation gives the same result in a lane as in a scalar register), so
// a group of lanes gives bit for bit the results of the scalar blends.
//
// Everything here has internal linkage: a file that compiles the kernels for
// a wider instruction set includes this header after switching its target,
// and its copies must never be merged with the baseline ones.
#pragma once
#include <emmintrin.h>
#if defined(CORVANE_LANES_AVX)
#include <immintrin.h>
#endif

#include <cstring>

#include "math/rotation_core.h"

// The kernels are written as chains of small functions over whole vectors;
// they must be inlined to keep the vectors in registers.
#define CORVANE_LANES_INLINE inline __attribute__((always_inline))

namespace {
namespace rotation_lanes {

template <class V>
using MaskOf = decltype(V{} > V{});  // all ones in a lane where a comparison holds

template <class V>
constexpr int kLanes = sizeof(V) / sizeof(double);

template <class V>
struct QuaternionLanes {
  V w, x, y, z;
};

template <class V>
CORVANE_LANES_INLINE V splat(double v) {
  V r;
  for (int i = 0; i < kLanes<V>; ++i) r[i] = v;
  return r;
}

// Correctly rounded square root of every lane: four lanes per instruction in
// a file that defines CORVANE_LANES_AVX (and compiles for AVX), else two.
template <class V>
CORVANE_LANES_INLINE V root(V v) {
  static_assert(sizeof(V) % 16 == 0, "whole SSE2 registers");
  V r;
#if defined(CORVANE_LANES_AVX)
  if constexpr (sizeof(V) % 32 == 0) {
    for (unsigned i = 0; i < sizeof(V); i += 32) {
      __m256d quarter;
      std::memcpy(&quarter, reinterpret_cast<const char*>(&v) + i, 32);
      quarter = _mm256_sqrt_pd(quarter);
      std::memcpy(reinterpret_cast<char*>(&r) + i, &quarter, 32);
    }
    return r;
  }
#endif
  for (unsigned i = 0; i < sizeof(V); i += 16) {
    __m128d half;
    std::memcpy(&half, reinterpret_cast<const char*>(&v) + i, 16);
    half = _mm_sqrt_pd(half);
    std::memcpy(reinterpret_cast<char*>(&r) + i, &half, 16);
  }
  return r;
}

template <class V>
CORVANE_LANES_INLINE V select(MaskOf<V> m, V a, V b) {
  return m ? a : b;
}

template <class V>
CORVANE_LANES_INLINE MaskOf<V> finite(V v) {
  using M = MaskOf<V>;
  M exponent;
  for (int i = 0; i < kLanes<V>; ++i) exponent[i] = 0x7FF0000000000000ll;
  return ((M)v & exponent) != exponent;
}

template <class V>
CORVANE_LANES_INLINE Quaternion lane(const QuaternionLanes<V>& q, int i) {
  return Quaternion{q.w[i], q.x[i], q.y[i], q.z[i]};
}

// rotation_core::normalize.
template <class V>
CORVANE_LANES_INLINE QuaternionLanes<V> normalize(const QuaternionLanes<V>& q) {
  const V n = root(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  const MaskOf<V> ok = (n > splat<V>(rotation_core::kMinQuaternionNorm)) & finite(n);
  const V zero = splat<V>(0.0);
  return QuaternionLanes<V>{select(ok, q.w / n, splat<V>(1.0)), select(ok, q.x / n, zero), select(ok, q.y / n, zero),
                            select(ok, q.z / n, zero)};
}

// rotation_core::fromRotation with the branch chosen per lane.
template <class V>
CORVANE_LANES_INLINE QuaternionLanes<V> fromRotation(V m00, V m01, V m02, V m10, V m11, V m12, V m20, V m21, V m22) {
  using M = MaskOf<V>;
  const V one = splat<V>(1.0);
  const V trace = m00 + m11 + m22;
  const M b1 = trace > splat<V>(0.0);
  const M b2 = ~b1 & (m00 > m11) & (m00 > m22);
  const M b3 = ~b1 & ~b2 & (m11 > m22);
  const M b4 = ~b1 & ~b2 & ~b3;
  const V arg = select(b1, trace + one,
                       select(b2, one + m00 - m11 - m22, select(b3, one + m11 - m00 - m22, one + m22 - m00 - m11)));
  const V s = splat<V>(2.0) * root(arg);
  const V quarter = splat<V>(0.25) * s;
  const V a = m21 - m12, b = m02 - m20, c = m10 - m01;
  const V d = m01 + m10, e = m02 + m20, f = m12 + m21;
  QuaternionLanes<V> q;
  q.w = select(b1, quarter, select(b2, a, select(b3, b, c)) / s);
  q.x = select(b2, quarter, select(b1, a, select(b3, d, e)) / s);
  q.y = select(b3, quarter, select(b1, b, select(b2, d, f)) / s);
  q.z = select(b4, quarter, select(b1, c, select(b2, e, f)) / s);
  return normalize(q);
}

// rotation_core::slerp; lanes outside the linear branch are finished by the
// scalar code from the same normalised inputs.
template <class V>
CORVANE_LANES_INLINE QuaternionLanes<V> slerp(const QuaternionLanes<V>& qa, const QuaternionLanes<V>& qb, double t) {
  using M = MaskOf<V>;
  const QuaternionLanes<V> a = normalize(qa);
  const QuaternionLanes<V> bn = normalize(qb);
  V d = a.w * bn.w + a.x * bn.x + a.y * bn.y + a.z * bn.z;
  const M flip = d < splat<V>(0.0);
  const QuaternionLanes<V> b{select(flip, -bn.w, bn.w), select(flip, -bn.x, bn.x), select(flip, -bn.y, bn.y),
                             select(flip, -bn.z, bn.z)};
  d = select(flip, -d, d);
  const V c = select(d >= splat<V>(1.0), splat<V>(1.0), select(d <= splat<V>(-1.0), splat<V>(-1.0), d));
  const M linear = c > splat<V>(rotation_core::kLinearBlendCosine);
  const V tt = splat<V>(t);
  QuaternionLanes<V> r = normalize(QuaternionLanes<V>{a.w + (b.w - a.w) * tt, a.x + (b.x - a.x) * tt,
                                                      a.y + (b.y - a.y) * tt, a.z + (b.z - a.z) * tt});
  for (int i = 0; i < kLanes<V>; ++i) {
    if (linear[i]) continue;
    const Quaternion q = rotation_core::slerpNormalized(lane(a, i), lane(bn, i), t);
    r.w[i] = q.w;
    r.x[i] = q.x;
    r.y[i] = q.y;
    r.z[i] = q.z;
  }
  return r;
}

}  // namespace rotation_lanes
}  // namespace
