#include "math/blend.h"

#include <cstring>

#include "math/quaternion.h"
#include "math/rigidity_core.h"
#include "math/rotation_core.h"
#include "math/rotation_pair.h"
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

namespace {

// from + (to - from) * t with the difference taken in 32-bit.
void blendTranslation(const float* f, const float* g, double t, float* out) {
  for (int r = 0; r < 3; ++r) {
    const float start = f[4 * r + 3];
    const float delta = g[4 * r + 3] - start;
    out[4 * r + 3] = static_cast<float>(static_cast<double>(start) + static_cast<double>(delta) * t);
  }
}

void blendJoint(const Matrix3x4& from, const Matrix3x4& to, double t, Matrix3x4* out) {
  const float* f = from.m;
  const float* g = to.m;
  const Quaternion qf = rotation_core::fromRotation(f[0], f[1], f[2], f[4], f[5], f[6], f[8], f[9], f[10]);
  const Quaternion qt = rotation_core::fromRotation(g[0], g[1], g[2], g[4], g[5], g[6], g[8], g[9], g[10]);
  const Quaternion q = rotation_core::normalize(rotation_core::slerp(qf, qt, t));
  Matrix3x4 result;
  rotation_core::writeRotation(q, result.m, 4);
  blendTranslation(f, g, t, result.m);
  *out = result;  // after every read of from and to: out may alias either
}

// Two consecutive joints, one per lane; the same results as blendJoint on each.
void blendJointPair(const Matrix3x4* from, const Matrix3x4* to, double t, Matrix3x4* out) {
  using rotation_pair::Pair;
  using rotation_pair::QuaternionPair;
  auto element = [](const Matrix3x4* m, int k) { return Pair{m[0].m[k], m[1].m[k]}; };
  const QuaternionPair qf = rotation_pair::fromRotation(element(from, 0), element(from, 1), element(from, 2),
                                                        element(from, 4), element(from, 5), element(from, 6),
                                                        element(from, 8), element(from, 9), element(from, 10));
  const QuaternionPair qt = rotation_pair::fromRotation(element(to, 0), element(to, 1), element(to, 2),
                                                        element(to, 4), element(to, 5), element(to, 6),
                                                        element(to, 8), element(to, 9), element(to, 10));
  const QuaternionPair q = rotation_pair::normalize(rotation_pair::slerp(qf, qt, t));
  const Pair one = rotation_pair::splat(1.0), two = rotation_pair::splat(2.0);
  const Pair w = q.w, x = q.x, y = q.y, z = q.z;
  const Pair rotation[9] = {one - two * (y * y + z * z), two * (x * y - w * z),       two * (x * z + w * y),
                            two * (x * y + w * z),       one - two * (x * x + z * z), two * (y * z - w * x),
                            two * (x * z - w * y),       two * (y * z + w * x),       one - two * (x * x + y * y)};
  Matrix3x4 result[2];
  for (int j = 0; j < 2; ++j) {
    for (int k = 0; k < 9; ++k) result[j].m[4 * (k / 3) + k % 3] = static_cast<float>(rotation[k][j]);
    blendTranslation(from[j].m, to[j].m, t, result[j].m);
  }
  out[0] = result[0];
  out[1] = result[1];
}

}  // namespace

bool interpolateMatrix3x4Array(const Matrix3x4* from, const Matrix3x4* to, uint32_t count, double t,
                               Matrix3x4* out) {
  if (from == nullptr || to == nullptr || out == nullptr) return false;
  if (count == 0 || count > kMaxPaletteJoints || !isFiniteDouble(t)) return false;
  bool rigid = true;
  for (uint32_t i = 0; i < count; ++i) rigid &= rigidity_core::isRigid(from[i]) & rigidity_core::isRigid(to[i]);
  if (!rigid) return false;
  uint32_t i = 0;
  for (; i + 2 <= count; i += 2) blendJointPair(from + i, to + i, t, out + i);
  if (i < count) blendJoint(from[i], to[i], t, &out[i]);
  return true;
}
