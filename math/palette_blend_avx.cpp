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
#include "math/transform.h"
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
namespace {

// A product's factors held as doubles: the left one element by element, to be
// broadcast, the right one a row of four per register.
struct WideLeft {
  alignas(32) double m[16];
};
using WideRows = __m256d[4];

__attribute__((target("avx"))) inline void widenLeft(const Matrix4x4& a, WideLeft* out) {
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) _mm256_store_pd(&out->m[4 * k], _mm256_cvtps_pd(_mm_loadu_ps(&a.m[4 * k])));
}

__attribute__((target("avx"))) inline void widenRows(const __m128 (&rows)[4], WideRows& out) {
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) out[k] = _mm256_cvtps_pd(rows[k]);
}

__attribute__((target("avx"))) inline void loadRows(const Matrix4x4& m, __m128 (&out)[4]) {
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) out[k] = _mm_loadu_ps(&m.m[4 * k]);
}

__attribute__((target("avx"))) inline void storeRows(const __m128 (&rows)[4], Matrix4x4* out) {
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) _mm_storeu_ps(&out->m[4 * k], rows[k]);
}

// The rows of left * right rounded to float: the four rows side by side, each
// a chain of adds in the order 0, k = 0..3.
__attribute__((target("avx"))) inline void product(const WideLeft& left, const WideRows& right, __m128 (&out)[4]) {
  __m256d sum[4];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) sum[i] = _mm256_setzero_pd();
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
      sum[i] = _mm256_add_pd(sum[i], _mm256_mul_pd(_mm256_broadcast_sd(&left.m[4 * i + k]), right[k]));
  }
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) out[i] = _mm256_cvtpd_ps(sum[i]);
}

}  // namespace

// multiplyMatrix4x4 with a whole row of four doubles per register; the sums
// are formed in the same order, so the product is the same bit for bit.
__attribute__((target("avx"))) void multiplyMatrix4x4Avx(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out) {
  WideLeft left;
  widenLeft(a, &left);
  __m128 rows[4];
  loadRows(b, rows);
  WideRows right;
  widenRows(rows, right);
  // Every input is read before `out` is written: it may be `a` or `b`.
  product(left, right, rows);
  storeRows(rows, out);
}

// The slot rewrite's five products, the intermediate ones (W' and the step
// V * W') kept in registers as the right factor of the next.
__attribute__((target("avx"))) void rewriteSlotFormsAvx(const Matrix4x4& forward, const Matrix4x4& inverse,
                                                        const SlotForms& in, SlotForms* out) {
  WideLeft f, v, d1, d2;
  widenLeft(forward, &f);
  widenLeft(in.inverse, &v);
  widenLeft(in.derived1, &d1);
  widenLeft(in.derived2, &d2);
  __m128 rows[4], world[4], inverseWorld[4], derived1[4], derived2[4];
  WideRows right;
  loadRows(in.world, rows);
  widenRows(rows, right);
  product(f, right, world);
  loadRows(inverse, rows);
  widenRows(rows, right);
  product(v, right, inverseWorld);
  widenRows(world, right);
  product(v, right, rows);  // the step
  widenRows(rows, right);
  product(d1, right, derived1);
  product(d2, right, derived2);
  storeRows(world, &out->world);
  storeRows(inverseWorld, &out->inverse);
  storeRows(derived1, &out->derived1);
  storeRows(derived2, &out->derived2);
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
