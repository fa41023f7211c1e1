#include "math/blend.h"

#include <cstring>

#include "math/palette_blend.h"
#include "math/palette_lanes.h"
#include "math/quaternion.h"
#include "math/rigidity_lanes.h"
#include "math/rotation_core.h"
#include "math/transform.h"

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

uint64_t hashMatrix3x4Array(const Matrix3x4* array, uint32_t count) {
  if (array == nullptr || count == 0) return kFnvStart;
  return fnv1a64(array, static_cast<size_t>(count) * sizeof(Matrix3x4));
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

bool palettesAreRigidSse2(const Matrix3x4* from, const Matrix3x4* to, uint32_t count) {
  return rigidity_lanes::allRigid<rotation_lanes::Sse2Lanes>(from, to, count);
}

void blendRigidPalette(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t, Matrix3x4* out) {
  if (avxPaletteBlendAvailable()) blendRigidPaletteAvx(from, to, count, t, out);
  else blendRigidPaletteSse2(from, to, count, t, out);
}

bool interpolateMatrix3x4Array(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                               Matrix3x4* out) {
  if (from == nullptr || to == nullptr || out == nullptr) return false;
  if (count == 0 || count > kMaxPaletteJoints || !isFiniteDouble(t)) return false;
  const bool rigid = avxPaletteBlendAvailable() ? palettesAreRigidAvx(from, to, count) : palettesAreRigidSse2(from, to, count);
  if (!rigid) return false;
  blendRigidPalette(from, to, count, t, out);
  return true;
}
