#include "math/blend.h"

#include <cstring>

#include "math/palette_blend.h"
#include "math/palette_lanes.h"
#include "math/quaternion.h"
#include "math/rigidity_lanes.h"
#include "math/rotation_core.h"
#include "math/transform.h"

namespace corvane::math {

static_assert(sizeof(Matrix3x4) == 12 * sizeof(float), "palette entries are packed floats");

uint64_t fnv1a64(const void* data, size_t length, uint64_t start) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  uint64_t h = start;
  size_t i = 0;
  // Eight bytes per load; the bytes still enter the hash one by one, in memory order.
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    for (int k = 0; k < 8; ++k) {
      unsigned char byte;
      std::memcpy(&byte, reinterpret_cast<const unsigned char*>(&word) + k, 1);
      h = (h ^ byte) * kFnvPrime;
    }
  }
  for (; i < length; ++i) h = (h ^ bytes[i]) * kFnvPrime;
  return h;
}

namespace {

constexpr uint64_t kDigestMultiplier = 0x9E3779B97F4A7C15ull;  // odd: multiplying is a bijection

// One word into one lane: xor, multiply, fold the high half down (the product
// alone never carries a high bit downwards, so two flips of one high bit would
// cancel).
inline uint64_t digestStep(uint64_t lane, uint64_t word) {
  lane = (lane ^ word) * kDigestMultiplier;
  return lane ^ (lane >> 32);
}

}  // namespace

uint64_t digestMatrix3x4Array(const Matrix3x4* array, uint32_t count) {
  if (array == nullptr || count == 0) return kFnvStart;
  constexpr size_t kLanes = 6;  // one lane per word of an entry
  static_assert(kLanes * sizeof(uint64_t) == sizeof(Matrix3x4), "an entry is one word per lane");
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(array);
  uint64_t lane[kLanes];
  for (size_t k = 0; k < kLanes; ++k) lane[k] = kFnvStart + k;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t w[kLanes];
    std::memcpy(w, bytes + static_cast<size_t>(i) * sizeof(Matrix3x4), sizeof w);
    for (size_t k = 0; k < kLanes; ++k) lane[k] = digestStep(lane[k], w[k]);
  }
  uint64_t h = digestStep(lane[0], static_cast<uint64_t>(count));
  for (size_t k = 1; k < kLanes; ++k) h = digestStep(h, lane[k]);
  return h;
}

bool interpolateMatrix4x4(const Matrix4x4& from, const Matrix4x4& to, double t, Matrix4x4* out) {
  if (!isFiniteDouble(t)) return false;
  const ScaledRigid a = decomposeScaled(from);
  if (!a.ok) return false;
  return interpolateScaledRigid(a, decomposeScaled(to), t, out);
}

bool interpolateScaledRigid(const ScaledRigid& a, const ScaledRigid& b, double t, Matrix4x4* out) {
  if (!isFiniteDouble(t) || !a.ok || !b.ok || a.mirrored != b.mirrored) return false;
  RigidTransform blended;
  for (int i = 0; i < 3; ++i) {
    blended.translation[i] = a.rigid.translation[i] + (b.rigid.translation[i] - a.rigid.translation[i]) * t;
  }
  rotationFromQuaternion(slerpQuaternion(a.rotation, b.rotation, t), blended.rotation);
  composeScaledRigid(blended, a.scale + (b.scale - a.scale) * t, a.mirrored, out);
  return true;
}

void blendRigidPaletteSse2(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  palette_lanes::blendPalette<rotation_lanes::Twice<rotation_lanes::Sse2Lanes>>(from, to, count, t, out);
}

void paletteRotationsSse2(const Matrix3x4* palette, uint32_t count, PaletteRotations* out) {
  palette_lanes::paletteRotations<rotation_lanes::Twice<rotation_lanes::Sse2Lanes>>(palette, count, out);
}

void blendRotatedPaletteSse2(const PaletteTranslations& fromTranslations, const PaletteRotations& fromRotations,
                             const Matrix3x4* to, const PaletteRotations& toRotations, uint32_t count, double t,
                             Matrix3x4* out) {
  palette_lanes::blendRotatedPalette<rotation_lanes::Twice<rotation_lanes::Sse2Lanes>>(fromTranslations, fromRotations,
                                                                                       to, toRotations, count, t, out);
}

bool palettesAreRigidSse2(const Matrix3x4* from, const Matrix3x4* to, uint32_t count) {
  return rigidity_lanes::allRigid<rotation_lanes::Sse2Lanes>(from, to, count);
}

uint32_t firstNonRigidJointSse2(const Matrix3x4* palette, uint32_t count) {
  return rigidity_lanes::firstNonRigid<rotation_lanes::Sse2Lanes>(palette, count);
}

uint32_t firstNonRigidJoint(const Matrix3x4* palette, uint32_t count) {
  return avxPaletteBlendAvailable() ? firstNonRigidJointAvx(palette, count) : firstNonRigidJointSse2(palette, count);
}

void blendRigidPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  if (avxPaletteBlendAvailable()) blendRigidPaletteAvx(from, to, count, t, out);
  else blendRigidPaletteSse2(from, to, count, t, out);
}

void paletteRotations(const Matrix3x4* palette, uint32_t count, PaletteRotations* out) {
  if (avxPaletteBlendAvailable()) paletteRotationsAvx(palette, count, out);
  else paletteRotationsSse2(palette, count, out);
}

void paletteTranslations(const Matrix3x4* palette, uint32_t count, PaletteTranslations* out) {
  for (uint32_t j = 0; j < count; ++j)
    for (int row = 0; row < 3; ++row) out->axis[row][j] = palette[j].m[4 * row + 3];
}

void blendRotatedPalette(const PaletteTranslations& fromTranslations, const PaletteRotations& fromRotations,
                         const Matrix3x4* to, const PaletteRotations& toRotations, uint32_t count, double t,
                         Matrix3x4* out) {
  if (avxPaletteBlendAvailable())
    blendRotatedPaletteAvx(fromTranslations, fromRotations, to, toRotations, count, t, out);
  else blendRotatedPaletteSse2(fromTranslations, fromRotations, to, toRotations, count, t, out);
}

bool interpolateMatrix3x4Array(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  if (from == nullptr || to == nullptr || out == nullptr) return false;
  if (count == 0 || count > kMaxPaletteJoints || !isFiniteDouble(t)) return false;
  const bool rigid =
      avxPaletteBlendAvailable() ? palettesAreRigidAvx(from, to, count) : palettesAreRigidSse2(from, to, count);
  if (!rigid) return false;
  blendRigidPalette(from, to, count, t, out);
  return true;
}

}  // namespace corvane::math
