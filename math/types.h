// Transform records shared by every interpolating subsystem. Their layouts are
// the host's and the tables', so each size is pinned.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane::math {

// Twelve 32-bit floats, three rows of four, row-major; translation in 3, 7, 11.
struct Matrix3x4 {
  float m[12];
};

// Sixteen 32-bit floats, row-major, translation in 3, 7, 11, bottom row
// expected (0, 0, 0, 1); acts on column vectors.
struct Matrix4x4 {
  float m[16];
};

// Translation in 64-bit, then the 3x3 rotation column by column:
// R00, R10, R20, R01, R11, R21, R02, R12, R22 (Rrc: row r, column c of the
// source matrix), as decomposeRigid writes it and composeScaledRigid reads it.
// The quaternion conversions read and write the block in row order, so they
// see the transposed rotation (quaternion.h says why that is exact).
struct RigidTransform {
  double translation[3];
  float rotation[9];
};

// Unit quaternion, w first.
struct Quaternion {
  double w, x, y, z;
};

static_assert(sizeof(Matrix3x4) == 48, "Matrix3x4 is 48 bytes");
static_assert(sizeof(Matrix4x4) == 64, "Matrix4x4 is 64 bytes");
static_assert(offsetof(RigidTransform, rotation) == 24, "rotation follows the translation");
static_assert(sizeof(Quaternion) == 32, "Quaternion is four doubles");

// "Finite" is the exponent bit test: all-ones exponent bits are not finite.
inline bool isFiniteFloat(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return (bits & 0x7F800000u) != 0x7F800000u;
}
inline bool isFiniteDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return (bits & 0x7FF0000000000000ull) != 0x7FF0000000000000ull;
}

}  // namespace corvane::math
