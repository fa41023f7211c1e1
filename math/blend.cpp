#include "math/blend.h"

#include <cstring>

#include "math/quaternion.h"
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
  RigidTransform a, b;
  double scaleA, scaleB;
  bool mirroredA, mirroredB;
  if (!decomposeScaledRigid(from, &a, &scaleA, &mirroredA)) return false;
  if (!decomposeScaledRigid(to, &b, &scaleB, &mirroredB)) return false;
  if (mirroredA != mirroredB) return false;

  RigidTransform blended;
  for (int i = 0; i < 3; ++i) blended.translation[i] = a.translation[i] + (b.translation[i] - a.translation[i]) * t;
  const Quaternion q = slerpQuaternion(quaternionFromRotation(a.rotation), quaternionFromRotation(b.rotation), t);
  rotationFromQuaternion(q, blended.rotation);
  const double scale = scaleA + (scaleB - scaleA) * t;
  composeScaledRigid(blended, scale, mirroredA, out);
  return true;
}

bool interpolateMatrix3x4Array(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                               Matrix3x4* out) {
  if (from == nullptr || to == nullptr || out == nullptr) return false;
  if (count == 0 || count > kMaxPaletteJoints || !isFiniteDouble(t)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!isRigidMatrix3x4(from[i]) || !isRigidMatrix3x4(to[i])) return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const float* f = from[i].m;
    const float* g = to[i].m;
    const Quaternion qf = rotation_core::fromRotation(f[0], f[1], f[2], f[4], f[5], f[6], f[8], f[9], f[10]);
    const Quaternion qt = rotation_core::fromRotation(g[0], g[1], g[2], g[4], g[5], g[6], g[8], g[9], g[10]);
    const Quaternion q = rotation_core::normalize(rotation_core::slerp(qf, qt, t));
    float translation[3];
    for (int r = 0; r < 3; ++r) {
      const float start = f[4 * r + 3];
      const float delta = g[4 * r + 3] - start;
      translation[r] = static_cast<float>(static_cast<double>(start) + static_cast<double>(delta) * t);
    }
    Matrix3x4 result;
    rotation_core::writeRotation(q, result.m, 4);
    result.m[3] = translation[0];
    result.m[7] = translation[1];
    result.m[11] = translation[2];
    out[i] = result;
  }
  return true;
}
