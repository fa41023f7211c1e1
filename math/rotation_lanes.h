// The palette blend's rotation arithmetic for several joints at once, one
// joint per double lane of a register, written with the instruction set's own
// operations. `L` is a lane set: Sse2Lanes (two joints per register), in a
// file compiled for AVX that defines CORVANE_LANES_AVX AvxLanes (four), or
// Twice<> of either (two registers side by side). Each
// lane performs exactly the operations of rotation_core.h in the same order
// (an IEEE operation gives the same result in a lane as in a scalar
// register), so a register gives bit for bit the results of the scalar blends.
//
// Everything here has internal linkage: a file that compiles the kernels for
// a wider instruction set includes this header after switching its target,
// and its copies must never be merged with the baseline ones.
#pragma once
#include <emmintrin.h>
#if defined(CORVANE_LANES_AVX)
#include <immintrin.h>
#endif

#include "math/rotation_core.h"

namespace corvane::math {

// The kernels are chains of small functions over registers; they must be
// inlined to keep the values in registers.
#define CORVANE_LANES_INLINE inline __attribute__((always_inline))
#ifndef CORVANE_LANES_UNROLL
#define CORVANE_LANES_UNROLL _Pragma("GCC unroll 16")  // short loops over registers, unrolled whole
#endif

namespace {
namespace rotation_lanes {

// Two joints per register. Comparisons give all ones where they hold and are
// false for NaN, like the scalar ones.
struct Sse2Lanes {
  typedef __m128d D;
  static constexpr int kLanes = 2;
  static CORVANE_LANES_INLINE D splat(double v) { return _mm_set1_pd(v); }
  static CORVANE_LANES_INLINE D add(D a, D b) { return _mm_add_pd(a, b); }
  static CORVANE_LANES_INLINE D sub(D a, D b) { return _mm_sub_pd(a, b); }
  static CORVANE_LANES_INLINE D mul(D a, D b) { return _mm_mul_pd(a, b); }
  static CORVANE_LANES_INLINE D div(D a, D b) { return _mm_div_pd(a, b); }
  static CORVANE_LANES_INLINE D root(D a) { return _mm_sqrt_pd(a); }
  static CORVANE_LANES_INLINE D greater(D a, D b) { return _mm_cmpgt_pd(a, b); }
  static CORVANE_LANES_INLINE D less(D a, D b) { return _mm_cmplt_pd(a, b); }
  static CORVANE_LANES_INLINE D atMost(D a, D b) { return _mm_cmple_pd(a, b); }
  static CORVANE_LANES_INLINE D magnitude(D a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
  static CORVANE_LANES_INLINE D both(D a, D b) { return _mm_and_pd(a, b); }
  static CORVANE_LANES_INLINE D either(D a, D b) { return _mm_or_pd(a, b); }
  static CORVANE_LANES_INLINE D butNot(D a, D b) { return _mm_andnot_pd(b, a); }  // a and not b
  static CORVANE_LANES_INLINE D flipSign(D a, D mask) { return _mm_xor_pd(a, _mm_and_pd(mask, _mm_set1_pd(-0.0))); }
  static CORVANE_LANES_INLINE D select(D mask, D a, D b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
  }
  static CORVANE_LANES_INLINE int bits(D mask) { return _mm_movemask_pd(mask); }
  static CORVANE_LANES_INLINE void store(double* p, D a) { _mm_storeu_pd(p, a); }
  static CORVANE_LANES_INLINE D load(const double* p) { return _mm_loadu_pd(p); }
  // Joints 2 * part and 2 * part + 1 of register `v` of a group of four
  // joints per float register, widened.
  static CORVANE_LANES_INLINE D widen(const __m128* v, int part) {
    return _mm_cvtps_pd(part % 2 == 0 ? v[part / 2] : _mm_movehl_ps(v[part / 2], v[part / 2]));
  }
  // Joints 4 * quad to 4 * quad + 3 of a group, each rounded to 32-bit.
  static CORVANE_LANES_INLINE __m128 narrow(const D* parts, int quad) {
    return _mm_movelh_ps(_mm_cvtpd_ps(parts[2 * quad]), _mm_cvtpd_ps(parts[2 * quad + 1]));
  }
};

#if defined(CORVANE_LANES_AVX)
// Four joints per register; the comparisons are the ordered, quiet ones.
struct AvxLanes {
  typedef __m256d D;
  static constexpr int kLanes = 4;
  static CORVANE_LANES_INLINE D splat(double v) { return _mm256_set1_pd(v); }
  static CORVANE_LANES_INLINE D add(D a, D b) { return _mm256_add_pd(a, b); }
  static CORVANE_LANES_INLINE D sub(D a, D b) { return _mm256_sub_pd(a, b); }
  static CORVANE_LANES_INLINE D mul(D a, D b) { return _mm256_mul_pd(a, b); }
  static CORVANE_LANES_INLINE D div(D a, D b) { return _mm256_div_pd(a, b); }
  static CORVANE_LANES_INLINE D root(D a) { return _mm256_sqrt_pd(a); }
  static CORVANE_LANES_INLINE D greater(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static CORVANE_LANES_INLINE D less(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static CORVANE_LANES_INLINE D atMost(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static CORVANE_LANES_INLINE D magnitude(D a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
  static CORVANE_LANES_INLINE D both(D a, D b) { return _mm256_and_pd(a, b); }
  static CORVANE_LANES_INLINE D either(D a, D b) { return _mm256_or_pd(a, b); }
  static CORVANE_LANES_INLINE D butNot(D a, D b) { return _mm256_andnot_pd(b, a); }
  static CORVANE_LANES_INLINE D flipSign(D a, D mask) {
    return _mm256_xor_pd(a, _mm256_and_pd(mask, _mm256_set1_pd(-0.0)));
  }
  static CORVANE_LANES_INLINE D select(D mask, D a, D b) { return _mm256_blendv_pd(b, a, mask); }
  static CORVANE_LANES_INLINE int bits(D mask) { return _mm256_movemask_pd(mask); }
  static CORVANE_LANES_INLINE void store(double* p, D a) { _mm256_storeu_pd(p, a); }
  static CORVANE_LANES_INLINE D load(const double* p) { return _mm256_loadu_pd(p); }
  static CORVANE_LANES_INLINE D widen(const __m128* v, int part) { return _mm256_cvtps_pd(v[part]); }
  static CORVANE_LANES_INLINE __m128 narrow(const D* parts, int quad) { return _mm256_cvtpd_ps(parts[quad]); }
};
#endif

// Two registers of `I` side by side, each operation applied to both: two
// independent chains in program order, so that one's long divisions and
// roots overlap the other's work.
template <class I>
struct Twice {
  struct D {
    typename I::D lo, hi;
  };
  static constexpr int kLanes = 2 * I::kLanes;
#define CORVANE_TWICE_1(name) \
  static CORVANE_LANES_INLINE D name(D a) { return D{I::name(a.lo), I::name(a.hi)}; }
#define CORVANE_TWICE_2(name) \
  static CORVANE_LANES_INLINE D name(D a, D b) { return D{I::name(a.lo, b.lo), I::name(a.hi, b.hi)}; }
  CORVANE_TWICE_2(add)
  CORVANE_TWICE_2(sub)
  CORVANE_TWICE_2(mul)
  CORVANE_TWICE_2(div)
  CORVANE_TWICE_1(root)
  CORVANE_TWICE_2(greater)
  CORVANE_TWICE_2(less)
  CORVANE_TWICE_2(atMost)
  CORVANE_TWICE_1(magnitude)
  CORVANE_TWICE_2(both)
  CORVANE_TWICE_2(either)
  CORVANE_TWICE_2(butNot)
  CORVANE_TWICE_2(flipSign)
#undef CORVANE_TWICE_1
#undef CORVANE_TWICE_2
  static CORVANE_LANES_INLINE D splat(double v) { return D{I::splat(v), I::splat(v)}; }
  static CORVANE_LANES_INLINE D select(D m, D a, D b) {
    return D{I::select(m.lo, a.lo, b.lo), I::select(m.hi, a.hi, b.hi)};
  }
  static CORVANE_LANES_INLINE int bits(D m) { return I::bits(m.lo) | I::bits(m.hi) << I::kLanes; }
  static CORVANE_LANES_INLINE void store(double* p, D a) { I::store(p, a.lo), I::store(p + I::kLanes, a.hi); }
  static CORVANE_LANES_INLINE D load(const double* p) { return D{I::load(p), I::load(p + I::kLanes)}; }
  static CORVANE_LANES_INLINE D widen(const __m128* v, int part) {
    return D{I::widen(v, 2 * part), I::widen(v, 2 * part + 1)};
  }
  static CORVANE_LANES_INLINE __m128 narrow(const D* parts, int quad) {
    typename I::D inner[4 / I::kLanes];
    CORVANE_LANES_UNROLL
    for (int k = 0; k < 4 / I::kLanes; ++k) {
      const int index = quad * (4 / I::kLanes) + k;
      inner[k] = index % 2 == 0 ? parts[index / 2].lo : parts[index / 2].hi;
    }
    return I::narrow(inner, 0);
  }
};

template <class L>
struct QuaternionLanes {
  typename L::D w, x, y, z;
};

// rotation_core::normalize. A norm passes when it is above the minimum and
// below infinity: the same lanes as "above the minimum and finite", since a
// NaN fails both comparisons.
template <class L>
CORVANE_LANES_INLINE QuaternionLanes<L> normalize(const QuaternionLanes<L>& q) {
  typedef typename L::D D;
  const D sum = L::add(L::add(L::add(L::mul(q.w, q.w), L::mul(q.x, q.x)), L::mul(q.y, q.y)), L::mul(q.z, q.z));
  const D n = L::root(sum);
  const D ok =
      L::both(L::greater(n, L::splat(rotation_core::kMinQuaternionNorm)), L::less(n, L::splat(__builtin_inf())));
  // The fallback's zeros are +0.0: all bits clear where the mask is.
  return QuaternionLanes<L>{L::select(ok, L::div(q.w, n), L::splat(1.0)), L::both(ok, L::div(q.x, n)),
                            L::both(ok, L::div(q.y, n)), L::both(ok, L::div(q.z, n))};
}

// rotation_core::fromRotation with the branch chosen per lane.
template <class L>
CORVANE_LANES_INLINE QuaternionLanes<L> fromRotation(typename L::D m00, typename L::D m01, typename L::D m02,
                                                     typename L::D m10, typename L::D m11, typename L::D m12,
                                                     typename L::D m20, typename L::D m21, typename L::D m22) {
  typedef typename L::D D;
  const D one = L::splat(1.0);
  const D trace = L::add(L::add(m00, m11), m22);
  const D b1 = L::greater(trace, L::splat(0.0));
  const D b2 = L::butNot(L::both(L::greater(m00, m11), L::greater(m00, m22)), b1);
  const D b3 = L::butNot(L::butNot(L::greater(m11, m22), b1), b2);
  const D b123 = L::either(L::either(b1, b2), b3);  // the lanes of the fourth branch are the rest
  const D arg = L::select(
      b1, L::add(trace, one),
      L::select(b2, L::sub(L::sub(L::add(one, m00), m11), m22),
                L::select(b3, L::sub(L::sub(L::add(one, m11), m00), m22), L::sub(L::sub(L::add(one, m22), m00), m11))));
  const D s = L::mul(L::splat(2.0), L::root(arg));
  const D quarter = L::mul(L::splat(0.25), s);
  const D a = L::sub(m21, m12), b = L::sub(m02, m20), c = L::sub(m10, m01);
  const D d = L::add(m01, m10), e = L::add(m02, m20), f = L::add(m12, m21);
  // In every lane one component is the quarter and three are quotients by s:
  // the numerators of the three, in component order, are divided once each
  // and then put in their places.
  const D b12 = L::either(b1, b2);
  const D r1 = L::div(L::select(b12, a, L::select(b3, b, c)), s);
  const D r2 = L::div(L::select(b1, b, L::select(b12, d, L::select(b3, d, e))), s);
  const D r3 = L::div(L::select(b1, c, L::select(b2, e, f)), s);
  QuaternionLanes<L> q;
  q.w = L::select(b1, quarter, r1);
  q.x = L::select(b1, r1, L::select(b2, quarter, r2));
  q.y = L::select(b12, r2, L::select(b3, quarter, r3));
  q.z = L::select(b123, r3, quarter);
  return normalize<L>(q);
}

// rotation_core::slerpNormalized; lanes outside the linear branch are
// finished by the scalar code from the same inputs.
template <class L>
CORVANE_LANES_INLINE QuaternionLanes<L> slerpNormalized(const QuaternionLanes<L>& a, const QuaternionLanes<L>& bn,
                                                        double t) {
  typedef typename L::D D;
  const D d = L::add(L::add(L::add(L::mul(a.w, bn.w), L::mul(a.x, bn.x)), L::mul(a.y, bn.y)), L::mul(a.z, bn.z));
  const D flip = L::less(d, L::splat(0.0));
  const QuaternionLanes<L> b{L::flipSign(bn.w, flip), L::flipSign(bn.x, flip), L::flipSign(bn.y, flip),
                             L::flipSign(bn.z, flip)};
  // The clamped cosine exceeds the threshold exactly where |d| does (at or
  // above 1 it becomes 1; a NaN fails both), so the clamp is not formed here.
  const D linear = L::greater(L::flipSign(d, flip), L::splat(rotation_core::kLinearBlendCosine));
  const D tt = L::splat(t);
  QuaternionLanes<L> r = normalize<L>(
      QuaternionLanes<L>{L::add(a.w, L::mul(L::sub(b.w, a.w), tt)), L::add(a.x, L::mul(L::sub(b.x, a.x), tt)),
                         L::add(a.y, L::mul(L::sub(b.y, a.y), tt)), L::add(a.z, L::mul(L::sub(b.z, a.z), tt))});
  constexpr int n = L::kLanes;
  const int linearLanes = L::bits(linear);
  if (__builtin_expect(linearLanes != (1 << n) - 1, 0)) {
    double aw[n], ax[n], ay[n], az[n], bw[n], bx[n], by[n], bz[n], rw[n], rx[n], ry[n], rz[n];
    L::store(aw, a.w), L::store(ax, a.x), L::store(ay, a.y), L::store(az, a.z);
    L::store(bw, bn.w), L::store(bx, bn.x), L::store(by, bn.y), L::store(bz, bn.z);
    L::store(rw, r.w), L::store(rx, r.x), L::store(ry, r.y), L::store(rz, r.z);
    for (int i = 0; i < n; ++i) {
      if (linearLanes & (1 << i)) continue;
      const Quaternion q = rotation_core::slerpNormalized(Quaternion{aw[i], ax[i], ay[i], az[i]},
                                                          Quaternion{bw[i], bx[i], by[i], bz[i]}, t);
      rw[i] = q.w, rx[i] = q.x, ry[i] = q.y, rz[i] = q.z;
    }
    r = QuaternionLanes<L>{L::load(rw), L::load(rx), L::load(ry), L::load(rz)};
  }
  return r;
}

}  // namespace rotation_lanes
}  // namespace

}  // namespace corvane::math
