// Four consecutive Matrix3x4 as twelve registers of four floats: register k
// holds element k of each matrix, matrix j in lane j. Internal linkage, like
// rotation_lanes.h.
#pragma once
#include <xmmintrin.h>

#include "math/types.h"

namespace corvane::math {

#ifndef CORVANE_LANES_UNROLL
#define CORVANE_LANES_UNROLL _Pragma("GCC unroll 16")  // short loops over registers, unrolled whole
#endif

namespace {
namespace joint_lanes {

struct FourJoints {
  __m128 e[12];
};

// Reads all 48 floats of m[0] to m[3].
inline __attribute__((always_inline)) FourJoints load(const Matrix3x4* m) {
  FourJoints j;
  CORVANE_LANES_UNROLL
  for (int r = 0; r < 3; ++r) {
    __m128 a = _mm_loadu_ps(m[0].m + 4 * r), b = _mm_loadu_ps(m[1].m + 4 * r);
    __m128 c = _mm_loadu_ps(m[2].m + 4 * r), d = _mm_loadu_ps(m[3].m + 4 * r);
    _MM_TRANSPOSE4_PS(a, b, c, d);
    j.e[4 * r] = a, j.e[4 * r + 1] = b, j.e[4 * r + 2] = c, j.e[4 * r + 3] = d;
  }
  return j;
}

// Writes all 48 floats of m[0] to m[3].
inline __attribute__((always_inline)) void store(const FourJoints& j, Matrix3x4* m) {
  CORVANE_LANES_UNROLL
  for (int r = 0; r < 3; ++r) {
    __m128 a = j.e[4 * r], b = j.e[4 * r + 1], c = j.e[4 * r + 2], d = j.e[4 * r + 3];
    _MM_TRANSPOSE4_PS(a, b, c, d);
    _mm_storeu_ps(m[0].m + 4 * r, a), _mm_storeu_ps(m[1].m + 4 * r, b);
    _mm_storeu_ps(m[2].m + 4 * r, c), _mm_storeu_ps(m[3].m + 4 * r, d);
  }
}

}  // namespace joint_lanes
}  // namespace

}  // namespace corvane::math
