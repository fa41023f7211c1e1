// The palette blend kernel: joints in groups, one per double lane of `L`
// (in several registers when a group is wider), every lane bit for bit
// the scalar blend of its pair. Internal linkage, like rotation_lanes.h, so
// that a file compiled for another instruction set keeps its own copy.
#pragma once
#include <cstdint>

#include "math/joint_lanes.h"
#include "math/rotation_lanes.h"
#include "math/types.h"

namespace corvane::math {

namespace {
namespace palette_lanes {

// Joints per group: four (one float register per element), or one double
// register's worth when that is more.
template <class L>
constexpr uint32_t kGroup = L::kLanes > 4 ? L::kLanes : 4;

// Element k of the group's joints in part p, widened.
template <class L, int kQuads>
CORVANE_LANES_INLINE typename L::D element(const joint_lanes::FourJoints* j, int k, int p) {
  __m128 v[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) v[q] = j[q].e[k];
  return L::widen(v, p);
}

// kGroup<L> consecutive joints. Every input of the group is read before the
// first output is written: out may be from or to.
template <class L>
CORVANE_LANES_INLINE void blendGroup(const Matrix3x4* from, const Matrix3x4* to, double t, Matrix3x4* out) {
  using namespace rotation_lanes;
  typedef typename L::D D;
  constexpr int kQuads = kGroup<L> / 4, kParts = kGroup<L> / L::kLanes;
  joint_lanes::FourJoints f[kQuads], g[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) f[q] = joint_lanes::load(from + 4 * q), g[q] = joint_lanes::load(to + 4 * q);
  auto from_ = [&](int k, int p) { return element<L, kQuads>(f, k, p); };
  auto to_ = [&](int k, int p) { return element<L, kQuads>(g, k, p); };
  D rotation[9][kParts];
  CORVANE_LANES_UNROLL
  for (int p = 0; p < kParts; ++p) {
    const QuaternionLanes<L> qf = fromRotation<L>(from_(0, p), from_(1, p), from_(2, p), from_(4, p), from_(5, p),
                                                  from_(6, p), from_(8, p), from_(9, p), from_(10, p));
    const QuaternionLanes<L> qt = fromRotation<L>(to_(0, p), to_(1, p), to_(2, p), to_(4, p), to_(5, p), to_(6, p),
                                                  to_(8, p), to_(9, p), to_(10, p));
    const QuaternionLanes<L> q = normalize<L>(slerp<L>(qf, qt, t));
    const D one = L::splat(1.0), two = L::splat(2.0);
    const D w = q.w, x = q.x, y = q.y, z = q.z;
    rotation[0][p] = L::sub(one, L::mul(two, L::add(L::mul(y, y), L::mul(z, z))));
    rotation[1][p] = L::mul(two, L::sub(L::mul(x, y), L::mul(w, z)));
    rotation[2][p] = L::mul(two, L::add(L::mul(x, z), L::mul(w, y)));
    rotation[3][p] = L::mul(two, L::add(L::mul(x, y), L::mul(w, z)));
    rotation[4][p] = L::sub(one, L::mul(two, L::add(L::mul(x, x), L::mul(z, z))));
    rotation[5][p] = L::mul(two, L::sub(L::mul(y, z), L::mul(w, x)));
    rotation[6][p] = L::mul(two, L::sub(L::mul(x, z), L::mul(w, y)));
    rotation[7][p] = L::mul(two, L::add(L::mul(y, z), L::mul(w, x)));
    rotation[8][p] = L::sub(one, L::mul(two, L::add(L::mul(x, x), L::mul(y, y))));
  }
  joint_lanes::FourJoints r[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) CORVANE_LANES_UNROLL
  for (int k = 0; k < 9; ++k) r[q].e[4 * (k / 3) + k % 3] = L::narrow(rotation[k], q);
  // Translation: from + (to - from) * t with the difference taken in 32-bit.
  const D tt = L::splat(t);
  CORVANE_LANES_UNROLL
  for (int row = 0; row < 3; ++row) {
    __m128 start[kQuads], delta[kQuads];
    CORVANE_LANES_UNROLL
    for (int q = 0; q < kQuads; ++q)
      start[q] = f[q].e[4 * row + 3], delta[q] = _mm_sub_ps(g[q].e[4 * row + 3], start[q]);
    D blended[kParts];
    CORVANE_LANES_UNROLL
    for (int p = 0; p < kParts; ++p) blended[p] = L::add(L::widen(start, p), L::mul(L::widen(delta, p), tt));
    CORVANE_LANES_UNROLL
    for (int q = 0; q < kQuads; ++q) r[q].e[4 * row + 3] = L::narrow(blended, q);
  }
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) joint_lanes::store(r[q], out + 4 * q);
}

// The whole palette; a last partial group is blended from copies, its spare
// joints repeating the last one.
template <class L>
CORVANE_LANES_INLINE void blendPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                                       Matrix3x4* out) {
  constexpr uint32_t n = kGroup<L>;
  uint32_t i = 0;
  for (; i + n <= count; i += n) blendGroup<L>(from + i, to + i, t, out + i);
  if (i == count) return;
  Matrix3x4 f[n], g[n], r[n];
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t k = i + j < count ? i + j : count - 1;
    f[j] = from[k];
    g[j] = to[k];
  }
  blendGroup<L>(f, g, t, r);
  for (uint32_t j = 0; i + j < count; ++j) out[i + j] = r[j];
}

}  // namespace palette_lanes
}  // namespace

}  // namespace corvane::math
