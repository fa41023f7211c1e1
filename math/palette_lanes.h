// The palette blend kernel: joints in groups of four, one per float lane
// (one per double lane of `L`, in 4 / L::kLanes parts), every lane bit for bit
// the scalar blend of its pair. Internal linkage, like rotation_lanes.h, so
// that a file compiled for another instruction set keeps its own copy.
#pragma once
#include <cstdint>

#include "math/joint_lanes.h"
#include "math/rotation_lanes.h"
#include "math/types.h"

namespace {
namespace palette_lanes {

constexpr uint32_t kGroup = 4;

// Four consecutive joints. Every input of the group is read before the first
// output is written: out may be from or to.
template <class L>
CORVANE_LANES_INLINE void blendGroup(const Matrix3x4* from, const Matrix3x4* to, double t, Matrix3x4* out) {
  using namespace rotation_lanes;
  typedef typename L::D D;
  constexpr int kParts = kGroup / L::kLanes;
  const joint_lanes::FourJoints f = joint_lanes::load(from), g = joint_lanes::load(to);
  D rotation[9][kParts];
  for (int p = 0; p < kParts; ++p) {
    const QuaternionLanes<L> qf =
        fromRotation<L>(L::widen(f.e[0], p), L::widen(f.e[1], p), L::widen(f.e[2], p), L::widen(f.e[4], p),
                        L::widen(f.e[5], p), L::widen(f.e[6], p), L::widen(f.e[8], p), L::widen(f.e[9], p),
                        L::widen(f.e[10], p));
    const QuaternionLanes<L> qt =
        fromRotation<L>(L::widen(g.e[0], p), L::widen(g.e[1], p), L::widen(g.e[2], p), L::widen(g.e[4], p),
                        L::widen(g.e[5], p), L::widen(g.e[6], p), L::widen(g.e[8], p), L::widen(g.e[9], p),
                        L::widen(g.e[10], p));
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
  joint_lanes::FourJoints r;
  for (int k = 0; k < 9; ++k) r.e[4 * (k / 3) + k % 3] = L::narrow(rotation[k]);
  // Translation: from + (to - from) * t with the difference taken in 32-bit.
  const D tt = L::splat(t);
  for (int row = 0; row < 3; ++row) {
    const __m128 start = f.e[4 * row + 3], delta = _mm_sub_ps(g.e[4 * row + 3], start);
    D blended[kParts];
    for (int p = 0; p < kParts; ++p) blended[p] = L::add(L::widen(start, p), L::mul(L::widen(delta, p), tt));
    r.e[4 * row + 3] = L::narrow(blended);
  }
  joint_lanes::store(r, out);
}

// The whole palette; a last partial group is blended from copies, its spare
// joints repeating the last one.
template <class L>
CORVANE_LANES_INLINE void blendPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                                       Matrix3x4* out) {
  uint32_t i = 0;
  for (; i + kGroup <= count; i += kGroup) blendGroup<L>(from + i, to + i, t, out + i);
  if (i == count) return;
  Matrix3x4 f[kGroup], g[kGroup], r[kGroup];
  for (uint32_t j = 0; j < kGroup; ++j) {
    const uint32_t k = i + j < count ? i + j : count - 1;
    f[j] = from[k];
    g[j] = to[k];
  }
  blendGroup<L>(f, g, t, r);
  for (uint32_t j = 0; i + j < count; ++j) out[i + j] = r[j];
}

}  // namespace palette_lanes
}  // namespace
