// rigidity_core::isRigid for four consecutive matrices at once: the same
// comparisons on the same values, each joint in its own lane (the
// determinant in four float lanes, the row tests in the double lanes of `L`,
// see rotation_lanes.h), so each joint's verdict is the scalar one. Internal
// linkage, like rotation_lanes.h.
#pragma once
#include <emmintrin.h>

#include "math/joint_lanes.h"
#include "math/rigidity_core.h"
#include "math/rotation_lanes.h"

namespace corvane::math {

namespace {
namespace rigidity_lanes {

template <class L>
CORVANE_LANES_INLINE typename L::D dot(typename L::D x0, typename L::D x1, typename L::D x2, typename L::D y0,
                                       typename L::D y1, typename L::D y2) {
  return L::add(L::add(L::mul(x0, y0), L::mul(x1, y1)), L::mul(x2, y2));
}

// |v| <= limit; false for NaN.
template <class L>
CORVANE_LANES_INLINE typename L::D within(typename L::D v, double limit) {
  return L::atMost(L::magnitude(v), L::splat(limit));
}

// Bits `part` * L::kLanes on of the row and determinant tests.
template <class L>
CORVANE_LANES_INLINE int rotationBits(const joint_lanes::FourJoints& j, __m128 det, int part) {
  typedef typename L::D D;
  const D a0 = L::widen(&j.e[0], part), a1 = L::widen(&j.e[1], part), a2 = L::widen(&j.e[2], part);
  const D b0 = L::widen(&j.e[4], part), b1 = L::widen(&j.e[5], part), b2 = L::widen(&j.e[6], part);
  const D c0 = L::widen(&j.e[8], part), c1 = L::widen(&j.e[9], part), c2 = L::widen(&j.e[10], part);
  const D one = L::splat(1.0);
  D ok = within<L>(L::sub(dot<L>(a0, a1, a2, a0, a1, a2), one), rigidity_core::kRowLengthTolerance);
  ok = L::both(ok, within<L>(L::sub(dot<L>(b0, b1, b2, b0, b1, b2), one), rigidity_core::kRowLengthTolerance));
  ok = L::both(ok, within<L>(L::sub(dot<L>(c0, c1, c2, c0, c1, c2), one), rigidity_core::kRowLengthTolerance));
  ok = L::both(ok, within<L>(dot<L>(a0, a1, a2, b0, b1, b2), rigidity_core::kOrthogonalityTolerance));
  ok = L::both(ok, within<L>(dot<L>(a0, a1, a2, c0, c1, c2), rigidity_core::kOrthogonalityTolerance));
  ok = L::both(ok, within<L>(dot<L>(b0, b1, b2, c0, c1, c2), rigidity_core::kOrthogonalityTolerance));
  ok = L::both(ok, within<L>(L::sub(L::widen(&det, part), one), rigidity_core::kDeterminantTolerance));
  return L::bits(ok) << (part * L::kLanes);
}

// Bit j set when m[j] passes rigidity_core::isRigid, for j below 4.
template <class L>
CORVANE_LANES_INLINE int rigidBits(const Matrix3x4* m) {
  const joint_lanes::FourJoints j = joint_lanes::load(m);
  // x - x is +0 for a finite x and NaN for an infinite or NaN one, and a sum
  // with a NaN term is NaN: a joint's sum is 0 exactly when all twelve of its
  // elements are finite.
  __m128 zeros[12];
  CORVANE_LANES_UNROLL
  for (int k = 0; k < 12; ++k) zeros[k] = _mm_sub_ps(j.e[k], j.e[k]);
  CORVANE_LANES_UNROLL
  for (int k = 0; k < 6; ++k) zeros[k] = _mm_add_ps(zeros[k], zeros[k + 6]);
  CORVANE_LANES_UNROLL
  for (int k = 0; k < 3; ++k) zeros[k] = _mm_add_ps(zeros[k], zeros[k + 3]);
  const __m128 sum = _mm_add_ps(_mm_add_ps(zeros[0], zeros[1]), zeros[2]);
  // The determinant in 32-bit, as the scalar test forms it.
  const __m128* e = j.e;
  const __m128 minor0 = _mm_sub_ps(_mm_mul_ps(e[5], e[10]), _mm_mul_ps(e[6], e[9]));
  const __m128 minor1 = _mm_sub_ps(_mm_mul_ps(e[4], e[10]), _mm_mul_ps(e[6], e[8]));
  const __m128 minor2 = _mm_sub_ps(_mm_mul_ps(e[4], e[9]), _mm_mul_ps(e[5], e[8]));
  const __m128 det =
      _mm_add_ps(_mm_sub_ps(_mm_mul_ps(e[0], minor0), _mm_mul_ps(e[1], minor1)), _mm_mul_ps(e[2], minor2));
  const int bits = _mm_movemask_ps(_mm_cmpeq_ps(sum, _mm_setzero_ps()));
  int rows = 0;
  CORVANE_LANES_UNROLL
  for (int part = 0; part < 4 / L::kLanes; ++part) rows |= rotationBits<L>(j, det, part);
  return bits & rows;
}

// Every from[i] and to[i] below count passes rigidity_core::isRigid.
template <class L>
CORVANE_LANES_INLINE bool allRigid(const Matrix3x4* from, const Matrix3x4* to, uint32_t count) {
  int bits = 0xF;
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) bits &= rigidBits<L>(from + i) & rigidBits<L>(to + i);
  bool rigid = bits == 0xF;
  for (; i < count; ++i) rigid &= rigidity_core::isRigid(from[i]) & rigidity_core::isRigid(to[i]);
  return rigid;
}

// The index of the first m[i] below count that fails rigidity_core::isRigid,
// count when every one passes.
template <class L>
CORVANE_LANES_INLINE uint32_t firstNonRigid(const Matrix3x4* m, uint32_t count) {
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const int failed = ~rigidBits<L>(m + i) & 0xF;
    if (failed != 0) return i + static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(failed)));
  }
  for (; i < count; ++i) {
    if (!rigidity_core::isRigid(m[i])) return i;
  }
  return count;
}

}  // namespace rigidity_lanes
}  // namespace

}  // namespace corvane::math
