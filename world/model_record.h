// The host's renderer record of one model as the world hooks read it: lengths,
// class identities, the four-matrix slot groups and bounded field reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bootstrap/host_interface.h"

namespace corvane::world {

// The block the host hands the GPU-copy function: 8 opaque bytes, then the
// record's address.
constexpr size_t kModelRefBlockSize = 16;
constexpr size_t kModelRefRecordOffset = 8;

// Room for the longest record, the skinned one.
constexpr size_t kRecordCopyCapacity = bootstrap::kSkinnedModelRecordLength;

// First-person models have a depth strictly inside (0, 100).
constexpr float kFirstPersonDepthLimit = 100.0f;

// One frame slot of a record: the world matrix, its inverse and the two derived
// matrices that carry it as their right-hand factor.
struct SlotGroup {
  uint64_t world, inverse, derived1, derived2;
};
constexpr SlotGroup kCurrentSlots = {bootstrap::kModelCurrentWorldOffset, bootstrap::kModelCurrentInverseOffset,
                                     bootstrap::kModelCurrentDerived1Offset, bootstrap::kModelCurrentDerived2Offset};
constexpr SlotGroup kPreviousSlots = {bootstrap::kModelPreviousWorldOffset, bootstrap::kModelPreviousInverseOffset,
                                      bootstrap::kModelPreviousDerived1Offset, bootstrap::kModelPreviousDerived2Offset};

inline const void* staticModelClass() { return bootstrap::hostBase + bootstrap::kStaticModelClassRva; }
inline const void* skinnedModelClass() { return bootstrap::hostBase + bootstrap::kSkinnedModelClassRva; }

inline uint64_t modelRecordLength(const void* classIdentity) {
  return classIdentity == skinnedModelClass() ? bootstrap::kSkinnedModelRecordLength : bootstrap::kModelRecordLength;
}

}  // namespace corvane::world
