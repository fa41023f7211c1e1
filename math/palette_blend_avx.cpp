// The palette blend kernel and its validation compiled for AVX: four joints
// per instruction, chosen at run time only on processors (and systems) that
// support it. The lanes perform the same IEEE operations as the baseline kernel; AVX adds no
// fused multiply-add, so every result is the same bit for bit.
//
// Everything with external linkage is included before the target switch, so
// no AVX-compiled copy of a shared inline function can replace the baseline one.
#include <emmintrin.h>
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "math/palette_blend.h"
#include "math/rigidity_core.h"
#include "math/rotation_core.h"
#include "math/types.h"

#pragma GCC push_options
#pragma GCC target("avx")
#define CORVANE_LANES_AVX 1
#include "math/palette_lanes.h"
#include "math/rigidity_lanes.h"

namespace corvane::math {

__attribute__((target("avx"))) void blendRigidPaletteAvx(const Matrix3x4* from, const Matrix3x4* to, uint32_t count,
                                                         double t, Matrix3x4* out) {
  palette_lanes::blendPalette<rotation_lanes::Twice<rotation_lanes::AvxLanes>>(from, to, count, t, out);
}

__attribute__((target("avx"))) void paletteRotationsAvx(const Matrix3x4* palette, uint32_t count,
                                                        PaletteRotations* out) {
  palette_lanes::paletteRotations<rotation_lanes::Twice<rotation_lanes::AvxLanes>>(palette, count, out);
}

__attribute__((target("avx"))) void blendRotatedPaletteAvx(const PaletteTranslations& fromTranslations,
                                                           const PaletteRotations& fromRotations, const Matrix3x4* to,
                                                           const PaletteRotations& toRotations, uint32_t count,
                                                           double t, Matrix3x4* out) {
  palette_lanes::blendRotatedPalette<rotation_lanes::Twice<rotation_lanes::AvxLanes>>(fromTranslations, fromRotations,
                                                                                      to, toRotations, count, t, out);
}

__attribute__((target("avx"))) bool palettesAreRigidAvx(const Matrix3x4* from, const Matrix3x4* to, uint32_t count) {
  return rigidity_lanes::allRigid<rotation_lanes::AvxLanes>(from, to, count);
}
__attribute__((target("avx"))) uint32_t firstNonRigidJointAvx(const Matrix3x4* palette, uint32_t count) {
  return rigidity_lanes::firstNonRigid<rotation_lanes::AvxLanes>(palette, count);
}
// multiplyMatrix4x4 with a whole row of four doubles per register; the sums
// are formed in the same order, so the product is the same bit for bit.
__attribute__((target("avx"))) void multiplyMatrix4x4Avx(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out) {
  __m256d rows[4];
  alignas(32) double left[16];
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    rows[k] = _mm256_cvtps_pd(_mm_loadu_ps(&b.m[4 * k]));
    _mm256_store_pd(&left[4 * k], _mm256_cvtps_pd(_mm_loadu_ps(&a.m[4 * k])));
  }
  // The four rows side by side, each a chain of adds in the order 0, k = 0..3.
  __m256d sum[4];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) sum[i] = _mm256_setzero_pd();
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
      sum[i] = _mm256_add_pd(sum[i], _mm256_mul_pd(_mm256_broadcast_sd(&left[4 * i + k]), rows[k]));
  }
  // Every input is read before `out` is written: it may be `a` or `b`.
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) _mm_storeu_ps(&out->m[4 * i], _mm256_cvtpd_ps(sum[i]));
}
#pragma GCC pop_options

bool avxPaletteBlendAvailable() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;  // also requires the system to save AVX state
  }();
  return available;
}

}  // namespace corvane::math
