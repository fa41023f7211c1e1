// The palette blend kernel: joints in groups, one per double lane of `L`
// (in several registers when a group is wider), every lane bit for bit
// the scalar blend of its pair. Internal linkage, like rotation_lanes.h, so
// that a file compiled for another instruction set keeps its own copy.
#pragma once
#include <cstdint>

#include "math/joint_lanes.h"
#include "math/palette_blend.h"
#include "math/rotation_lanes.h"
#include "math/types.h"

namespace corvane::math {

namespace {
namespace palette_lanes {

using rotation_lanes::QuaternionLanes;

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

// The quaternion of each joint in part p of a group, from the accessor of
// its elements, normalised as the blend takes it.
template <class L, class Element>
CORVANE_LANES_INLINE QuaternionLanes<L> rotationOf(Element e, int p) {
  using rotation_lanes::fromRotation, rotation_lanes::normalize;
  return normalize<L>(
      fromRotation<L>(e(0, p), e(1, p), e(2, p), e(4, p), e(5, p), e(6, p), e(8, p), e(9, p), e(10, p)));
}

// Part p of a group of kept rotations that starts at joint `first`.
template <class L, class Rotations>
CORVANE_LANES_INLINE QuaternionLanes<L> keptRotation(const Rotations& r, uint32_t first, int p) {
  const uint32_t i = first + uint32_t(p) * L::kLanes;
  return QuaternionLanes<L>{L::load(r.w + i), L::load(r.x + i), L::load(r.y + i), L::load(r.z + i)};
}

// Element 3, 7 or 11 (row `row`) of quad q of a group of kept translations
// that starts at joint `first`.
template <class Translations>
CORVANE_LANES_INLINE __m128 keptTranslation(const Translations& r, uint32_t first, int row, int q) {
  return _mm_loadu_ps(r.axis[row] + first + 4 * q);
}

// kGroup<L> consecutive joints of `to` blended from a start given by parts:
// `ends(to_, p, &a, &b)` the normalised quaternions of part p of the start and
// of `to`, `start(row, q)` the start's element 4 * row + 3 of the joints of
// quad q. Every input of the group is read before the first output is
// written: out may be to (or the start's storage).
template <class L, class Ends, class Start>
CORVANE_LANES_INLINE void blendGroup(const Matrix3x4* to, double t, Matrix3x4* out, Ends ends, Start start_) {
  using namespace rotation_lanes;
  typedef typename L::D D;
  constexpr int kQuads = kGroup<L> / 4, kParts = kGroup<L> / L::kLanes;
  joint_lanes::FourJoints g[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) g[q] = joint_lanes::load(to + 4 * q);
  auto to_ = [&](int k, int p) { return element<L, kQuads>(g, k, p); };
  D rotation[9][kParts];
  CORVANE_LANES_UNROLL
  for (int p = 0; p < kParts; ++p) {
    QuaternionLanes<L> a, b;
    ends(to_, p, &a, &b);
    const QuaternionLanes<L> q = normalize<L>(slerpNormalized<L>(a, b, t));
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
  // Translation: start + (to - start) * t with the difference taken in 32-bit.
  const D tt = L::splat(t);
  CORVANE_LANES_UNROLL
  for (int row = 0; row < 3; ++row) {
    __m128 start[kQuads], delta[kQuads];
    CORVANE_LANES_UNROLL
    for (int q = 0; q < kQuads; ++q) start[q] = start_(row, q), delta[q] = _mm_sub_ps(g[q].e[4 * row + 3], start[q]);
    D blended[kParts];
    CORVANE_LANES_UNROLL
    for (int p = 0; p < kParts; ++p) blended[p] = L::add(L::widen(start, p), L::mul(L::widen(delta, p), tt));
    CORVANE_LANES_UNROLL
    for (int q = 0; q < kQuads; ++q) r[q].e[4 * row + 3] = L::narrow(blended, q);
  }
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) joint_lanes::store(r[q], out + 4 * q);
}

// kGroup<L> consecutive joints of two whole palettes.
template <class L>
CORVANE_LANES_INLINE void blendWholeGroup(const Matrix3x4* from, const Matrix3x4* to, double t, Matrix3x4* out) {
  constexpr int kQuads = kGroup<L> / 4;
  joint_lanes::FourJoints f[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) f[q] = joint_lanes::load(from + 4 * q);
  auto from_ = [&](int k, int p) { return element<L, kQuads>(f, k, p); };
  auto ends = [&](auto to_, int p, QuaternionLanes<L>* a, QuaternionLanes<L>* b) {
    *a = rotationOf<L>(from_, p);
    *b = rotationOf<L>(to_, p);
  };
  blendGroup<L>(to, t, out, ends, [&](int row, int q) { return f[q].e[4 * row + 3]; });
}

// The whole palette; a last partial group is blended from copies, its spare
// joints repeating the last one.
template <class L>
CORVANE_LANES_INLINE void blendPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                                       Matrix3x4* out) {
  constexpr uint32_t n = kGroup<L>;
  uint32_t i = 0;
  for (; i + n <= count; i += n) blendWholeGroup<L>(from + i, to + i, t, out + i);
  if (i == count) return;
  Matrix3x4 f[n], g[n], r[n];
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t k = i + j < count ? i + j : count - 1;
    f[j] = from[k];
    g[j] = to[k];
  }
  blendWholeGroup<L>(f, g, t, r);
  for (uint32_t j = 0; i + j < count; ++j) out[i + j] = r[j];
}

// The rotations of one group of joints, written from entry `first` of `out`.
template <class L, class Rotations>
CORVANE_LANES_INLINE void rotationsOfGroup(const Matrix3x4* palette, Rotations* out, uint32_t first) {
  constexpr int kQuads = kGroup<L> / 4, kParts = kGroup<L> / L::kLanes;
  joint_lanes::FourJoints f[kQuads];
  CORVANE_LANES_UNROLL
  for (int q = 0; q < kQuads; ++q) f[q] = joint_lanes::load(palette + 4 * q);
  auto e = [&](int k, int p) { return element<L, kQuads>(f, k, p); };
  CORVANE_LANES_UNROLL
  for (int p = 0; p < kParts; ++p) {
    const QuaternionLanes<L> q = rotationOf<L>(e, p);
    const uint32_t i = first + uint32_t(p) * L::kLanes;
    L::store(out->w + i, q.w), L::store(out->x + i, q.x), L::store(out->y + i, q.y), L::store(out->z + i, q.z);
  }
}

// paletteRotations: whole groups; the entries after a last partial group's
// joints, up to the end of the group, repeat its last joint.
template <class L>
CORVANE_LANES_INLINE void paletteRotations(const Matrix3x4* palette, uint32_t count, PaletteRotations* out) {
  constexpr uint32_t n = kGroup<L>;
  static_assert(kPaletteRotationSlots % n == 0, "a group never passes the end of the record");
  uint32_t i = 0;
  for (; i + n <= count; i += n) rotationsOfGroup<L>(palette + i, out, i);
  if (i == count) return;
  Matrix3x4 m[n];
  for (uint32_t j = 0; j < n; ++j) m[j] = palette[i + j < count ? i + j : count - 1];
  rotationsOfGroup<L>(m, out, i);
}

// A group's worth of kept rotations and translations, for a last partial group.
template <class L>
struct GroupRotations {
  double w[kGroup<L>], x[kGroup<L>], y[kGroup<L>], z[kGroup<L>];
};
template <class L>
struct GroupTranslations {
  float axis[3][kGroup<L>];
};

// blendPalette from a palette kept as the translations and normalised
// rotations of its joints, to one whose rotations are kept beside it: the
// same operations on the same values, the rotations read back from memory
// instead of recomputed.
template <class L>
CORVANE_LANES_INLINE void blendRotatedPalette(const PaletteTranslations& fromTranslations,
                                              const PaletteRotations& fromRotations, const Matrix3x4* to,
                                              const PaletteRotations& toRotations, uint32_t count, double t,
                                              Matrix3x4* out) {
  constexpr uint32_t n = kGroup<L>;
  uint32_t i = 0;
  for (; i + n <= count; i += n) {
    auto ends = [&, i](auto, int p, QuaternionLanes<L>* a, QuaternionLanes<L>* b) {
      *a = keptRotation<L>(fromRotations, i, p);
      *b = keptRotation<L>(toRotations, i, p);
    };
    blendGroup<L>(to + i, t, out + i, ends,
                  [&, i](int row, int q) { return keptTranslation(fromTranslations, i, row, q); });
  }
  if (i == count) return;
  Matrix3x4 g[n], r[n];
  GroupRotations<L> fr, gr;
  GroupTranslations<L> ft;
  auto take = [](GroupRotations<L>& group, const PaletteRotations& r, uint32_t j, uint32_t k) {
    group.w[j] = r.w[k], group.x[j] = r.x[k], group.y[j] = r.y[k], group.z[j] = r.z[k];
  };
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t k = i + j < count ? i + j : count - 1;
    g[j] = to[k];
    take(fr, fromRotations, j, k), take(gr, toRotations, j, k);
    for (int row = 0; row < 3; ++row) ft.axis[row][j] = fromTranslations.axis[row][k];
  }
  auto ends = [&](auto, int p, QuaternionLanes<L>* a, QuaternionLanes<L>* b) {
    *a = keptRotation<L>(fr, 0, p);
    *b = keptRotation<L>(gr, 0, p);
  };
  blendGroup<L>(g, t, r, ends, [&](int row, int q) { return keptTranslation(ft, 0, row, q); });
  for (uint32_t j = 0; i + j < count; ++j) out[i + j] = r[j];
}

}  // namespace palette_lanes
}  // namespace

}  // namespace corvane::math
