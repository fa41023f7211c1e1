// The palette blend kernel: joints in groups of one per lane of `V`, every
// lane bit for bit the scalar blend of its pair. Internal linkage, like
// rotation_lanes.h, so that a file compiled for another instruction set keeps
// its own copy.
#pragma once
#include <cstdint>

#include "math/rotation_lanes.h"
#include "math/types.h"

namespace {
namespace palette_lanes {

// from + (to - from) * t with the difference taken in 32-bit.
CORVANE_LANES_INLINE void blendTranslation(const float* f, const float* g, double t, float* out) {
  for (int r = 0; r < 3; ++r) {
    const float start = f[4 * r + 3];
    const float delta = g[4 * r + 3] - start;
    out[4 * r + 3] = static_cast<float>(static_cast<double>(start) + static_cast<double>(delta) * t);
  }
}

// Element k of kLanes<V> consecutive matrices, widened, one per lane.
template <class V>
CORVANE_LANES_INLINE V element(const Matrix3x4* m, int k) {
  V v;
  for (int i = 0; i < rotation_lanes::kLanes<V>; ++i) v[i] = m[i].m[k];
  return v;
}

// kLanes<V> consecutive joints. Every input of the group is read before the
// first output is written: out may be from or to.
template <class V>
CORVANE_LANES_INLINE void blendGroup(const Matrix3x4* from, const Matrix3x4* to, double t, Matrix3x4* out) {
  using namespace rotation_lanes;
  constexpr int n = kLanes<V>;
  const QuaternionLanes<V> qf = fromRotation(element<V>(from, 0), element<V>(from, 1), element<V>(from, 2), element<V>(from, 4),
                                             element<V>(from, 5), element<V>(from, 6), element<V>(from, 8), element<V>(from, 9),
                                             element<V>(from, 10));
  const QuaternionLanes<V> qt = fromRotation(element<V>(to, 0), element<V>(to, 1), element<V>(to, 2), element<V>(to, 4),
                                             element<V>(to, 5), element<V>(to, 6), element<V>(to, 8), element<V>(to, 9),
                                             element<V>(to, 10));
  const QuaternionLanes<V> q = normalize(slerp(qf, qt, t));
  const V one = splat<V>(1.0), two = splat<V>(2.0);
  const V w = q.w, x = q.x, y = q.y, z = q.z;
  const V rotation[9] = {one - two * (y * y + z * z), two * (x * y - w * z),       two * (x * z + w * y),
                         two * (x * y + w * z),       one - two * (x * x + z * z), two * (y * z - w * x),
                         two * (x * z - w * y),       two * (y * z + w * x),       one - two * (x * x + y * y)};
  Matrix3x4 result[n];
  for (int j = 0; j < n; ++j) {
    float* r = result[j].m;
    r[0] = static_cast<float>(rotation[0][j]);
    r[1] = static_cast<float>(rotation[1][j]);
    r[2] = static_cast<float>(rotation[2][j]);
    r[4] = static_cast<float>(rotation[3][j]);
    r[5] = static_cast<float>(rotation[4][j]);
    r[6] = static_cast<float>(rotation[5][j]);
    r[8] = static_cast<float>(rotation[6][j]);
    r[9] = static_cast<float>(rotation[7][j]);
    r[10] = static_cast<float>(rotation[8][j]);
    blendTranslation(from[j].m, to[j].m, t, r);
  }
  for (int j = 0; j < n; ++j) out[j] = result[j];
}

// The whole palette; a last partial group is blended from copies, its spare
// lanes repeating the last joint.
template <class V>
CORVANE_LANES_INLINE void blendPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  constexpr uint32_t n = rotation_lanes::kLanes<V>;
  uint32_t i = 0;
  for (; i + n <= count; i += n) blendGroup<V>(from + i, to + i, t, out + i);
  if (i == count) return;
  Matrix3x4 f[n], g[n], r[n];
  for (uint32_t j = 0; j < n; ++j) {
    const uint32_t k = i + j < count ? i + j : count - 1;
    f[j] = from[k];
    g[j] = to[k];
  }
  blendGroup<V>(f, g, t, r);
  for (uint32_t j = 0; i + j < count; ++j) out[i + j] = r[j];
}

}  // namespace palette_lanes
}  // namespace
