#include "world/rewrite.h"

#include <cstring>

#include "math/transform.h"

namespace corvane::world {

using math::isFiniteMatrix4x4;
using math::multiplyMatrix4x4;

bool rewriteSlotGroup(uint8_t* recordCopy, uint64_t worldOffset, uint64_t inverseOffset, uint64_t derived1Offset,
                      uint64_t derived2Offset, const Matrix4x4& forward, const Matrix4x4& inverse) {
  Matrix4x4 world, inverseWorld, derived1, derived2;
  std::memcpy(&world, recordCopy + worldOffset, sizeof world);
  std::memcpy(&inverseWorld, recordCopy + inverseOffset, sizeof inverseWorld);
  std::memcpy(&derived1, recordCopy + derived1Offset, sizeof derived1);
  std::memcpy(&derived2, recordCopy + derived2Offset, sizeof derived2);
  if (!isFiniteMatrix4x4(world) || !isFiniteMatrix4x4(inverseWorld) || !isFiniteMatrix4x4(derived1) ||
      !isFiniteMatrix4x4(derived2)) {
    return false;
  }

  Matrix4x4 newWorld, newInverse, step, newDerived1, newDerived2;
  multiplyMatrix4x4(forward, world, &newWorld);
  multiplyMatrix4x4(inverseWorld, inverse, &newInverse);
  // The step from the host's world matrix to the corrected one, on the model side.
  multiplyMatrix4x4(inverseWorld, newWorld, &step);
  multiplyMatrix4x4(derived1, step, &newDerived1);
  multiplyMatrix4x4(derived2, step, &newDerived2);
  if (!isFiniteMatrix4x4(newWorld) || !isFiniteMatrix4x4(newInverse) || !isFiniteMatrix4x4(newDerived1) ||
      !isFiniteMatrix4x4(newDerived2)) {
    return false;
  }

  std::memcpy(recordCopy + worldOffset, &newWorld, sizeof newWorld);
  std::memcpy(recordCopy + inverseOffset, &newInverse, sizeof newInverse);
  std::memcpy(recordCopy + derived1Offset, &newDerived1, sizeof newDerived1);
  std::memcpy(recordCopy + derived2Offset, &newDerived2, sizeof newDerived2);
  return true;
}

}  // namespace corvane::world
