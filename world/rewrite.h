// Applies a correction pair to the four forms of one frame slot of a private
// record copy, so that every form describes the corrected placement.
#pragma once
#include <cstdint>

#include "math/types.h"
#include "world/model_record.h"

namespace corvane::world {

using math::Matrix4x4;

// W' = F*W, V' = V*G, Dk' = Dk*(V*W'). Writes nothing and returns false when an
// input or a result is not finite.
bool rewriteSlotGroup(uint8_t* recordCopy, uint64_t worldOffset, uint64_t inverseOffset, uint64_t derived1Offset,
                      uint64_t derived2Offset, const Matrix4x4& forward, const Matrix4x4& inverse);

inline bool rewriteSlotGroup(uint8_t* recordCopy, const SlotGroup& group, const Matrix4x4& forward,
                             const Matrix4x4& inverse) {
  return rewriteSlotGroup(recordCopy, group.world, group.inverse, group.derived1, group.derived2, forward, inverse);
}

}  // namespace corvane::world
