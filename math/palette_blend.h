// Entry points of the palette blend for callers inside the system that have
// already proved what interpolateMatrix3x4Array would check.
#pragma once
#include <cstddef>
#include <cstdint>

#include "math/blend.h"
#include "math/types.h"

namespace corvane::math {

// interpolateMatrix3x4Array after its checks: every from[i] and to[i] below
// count is known to pass isRigidMatrix3x4, 1 <= count <= 256 and t is finite.
// Same results bit for bit; out may be from or to.
void blendRigidPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out);

// The normalised quaternion of each joint's rotation block as the blend takes
// it (a step of blendRigidPalette, done once per palette instead of once per
// blend), one array per component. A plain record: tables of them may live
// in zero-initialised storage.
constexpr uint32_t kPaletteRotationSlots = (kMaxPaletteJoints + 7) / 8 * 8;  // whole groups of the widest kernel
struct PaletteRotations {
  double w[kPaletteRotationSlots], x[kPaletteRotationSlots], y[kPaletteRotationSlots], z[kPaletteRotationSlots];
};

// The rotations of palette[0] to palette[count - 1], 1 <= count <= 256 (the
// entries after them up to the end of their group of eight may be written too).
void paletteRotations(const Matrix3x4* palette, uint32_t count, PaletteRotations* out);

// The translations (elements 3, 7 and 11) of each joint, one array per axis:
// all the blend reads of a palette besides its rotations. A plain record.
struct PaletteTranslations {
  float axis[3][kPaletteRotationSlots];
};
// The translations of palette[0] to palette[count - 1], 1 <= count <= 256.
void paletteTranslations(const Matrix3x4* palette, uint32_t count, PaletteTranslations* out);

// blendRigidPalette from a palette given by the translations and rotations of
// its joints (paletteTranslations, paletteRotations) to one whose rotations
// paletteRotations gave: the same preconditions and the same results bit for
// bit; out may be to.
void blendRotatedPalette(const PaletteTranslations& fromTranslations, const PaletteRotations& fromRotations,
                         const Matrix3x4* to, const PaletteRotations& toRotations, uint32_t count, double t,
                         Matrix3x4* out);

// The kernels behind blendRigidPalette, paletteRotations and
// blendRotatedPalette, each with the same results; the AVX ones may be called
// only when avxPaletteBlendAvailable().
void blendRigidPaletteSse2(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out);
void blendRigidPaletteAvx(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out);
void paletteRotationsSse2(const Matrix3x4* palette, uint32_t count, PaletteRotations* out);
void paletteRotationsAvx(const Matrix3x4* palette, uint32_t count, PaletteRotations* out);
void blendRotatedPaletteSse2(const PaletteTranslations& fromTranslations, const PaletteRotations& fromRotations,
                             const Matrix3x4* to, const PaletteRotations& toRotations, uint32_t count, double t,
                             Matrix3x4* out);
void blendRotatedPaletteAvx(const PaletteTranslations& fromTranslations, const PaletteRotations& fromRotations,
                            const Matrix3x4* to, const PaletteRotations& toRotations, uint32_t count, double t,
                            Matrix3x4* out);
bool avxPaletteBlendAvailable();
// The kernels behind multiplyMatrix4x4, the same bit for bit; the AVX one on
// the same condition.
void multiplyMatrix4x4Sse2(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out);
void multiplyMatrix4x4Avx(const Matrix4x4& a, const Matrix4x4& b, Matrix4x4* out);
struct SlotForms;
// The kernels behind rewriteSlotForms, the same bit for bit as its five
// products by multiplyMatrix4x4; the AVX one on the same condition.
void rewriteSlotFormsSse2(const Matrix4x4& forward, const Matrix4x4& inverse, const SlotForms& in, SlotForms* out);
void rewriteSlotFormsAvx(const Matrix4x4& forward, const Matrix4x4& inverse, const SlotForms& in, SlotForms* out);

// The validation of interpolateMatrix3x4Array: every from[i] and to[i] below
// count passes isRigidMatrix3x4. The AVX one, like the AVX kernel, only when
// avxPaletteBlendAvailable().
bool palettesAreRigidSse2(const Matrix3x4* from, const Matrix3x4* to, uint32_t count);
bool palettesAreRigidAvx(const Matrix3x4* from, const Matrix3x4* to, uint32_t count);

// The index of the first entry below count that fails isRigidMatrix3x4, count
// when all pass; four joints at a time, each with the scalar verdict.
uint32_t firstNonRigidJoint(const Matrix3x4* palette, uint32_t count);
uint32_t firstNonRigidJointSse2(const Matrix3x4* palette, uint32_t count);
uint32_t firstNonRigidJointAvx(const Matrix3x4* palette, uint32_t count);

}  // namespace corvane::math
