// The two blends, the palette digest and the start-up self-test.
#pragma once
#include <cstdint>

#include "math/transform.h"
#include "math/types.h"

namespace corvane::math {

constexpr uint32_t kMaxPaletteJoints = 256;
constexpr uint64_t kFnvStart = 0x14650FB0739D0383ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

// 64-bit FNV-1a over raw bytes from the given start value.
uint64_t fnv1a64(const void* data, size_t length, uint64_t start = kFnvStart);

// `out` is written only on success.
bool interpolateMatrix4x4(const Matrix4x4& from, const Matrix4x4& to, double t, Matrix4x4* out);
// The same blend of two matrices already decomposed (decomposeScaled).
bool interpolateScaledRigid(const ScaledRigid& from, const ScaledRigid& to, double t, Matrix4x4* out);
// Validates every pair before writing anything; `out` may alias `from` or `to`.
bool interpolateMatrix3x4Array(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out);
// A 64-bit digest of the array's bytes for equality tests only (a sampled
// palette against the track's last one, the palette a substituted upload handed
// over against the one before it): six independent lanes, one per 8-byte word
// of an entry, so it costs a tenth of a byte-serial FNV-1a. It reads raw bit
// patterns: 0.0 and -0.0 differ.
// Every step is a bijection of its lane, so a change confined to one word
// always changes the digest; an empty array gives kFnvStart.
uint64_t digestMatrix3x4Array(const Matrix3x4* array, uint32_t count);
bool runMathSelfTest();

}  // namespace corvane::math
