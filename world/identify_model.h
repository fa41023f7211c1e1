// Which model records the world pass follows, and the host classes it saw and
// refused.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "math/blend.h"

namespace corvane::patch {
struct ReadableRegionMemo;
}

namespace corvane::world {

// A refused class identity, as its RVA, and how often it was seen. An entry
// with either value 0 is empty.
struct ObservedVtable {
  std::atomic<uint64_t> vtableRva;
  std::atomic<uint64_t> count;
};
constexpr size_t kObservedVtableCount = 8;
extern ObservedVtable observedVtables[kObservedVtableCount];

// Skinned records: joints 1..256, padded to a multiple of 8; cinematic models
// (no owner) have at most 64 joints. The record's limit is the game's; the
// palette blend's capacity is sized to hold it.
constexpr uint32_t kMaxModelJoints = 256;
static_assert(kMaxModelJoints <= math::kMaxPaletteJoints, "the blend holds the longest palette a record may have");
constexpr uint32_t kJointPadding = 8;
constexpr uint32_t kMaxCinematicJoints = 64;
// World models carry a depth value of 0, within this tolerance.
constexpr double kWorldDepthTolerance = 1e-6;

// True when the record is a world or cinematic model to follow. The outputs are
// written as far as the tests get; `ownerKey` is the owner, or the asset of a
// cinematic model. No lock needed.
using patch::ReadableRegionMemo;
bool identifyWorldModel(const uint8_t* record, const void** ownerKey, const void** classIdentity, const void** asset,
                        bool* cinematic);
// The same, taking the probe answers the caller's hook call already has.
bool identifyWorldModel(ReadableRegionMemo& probes, const uint8_t* record, const void** ownerKey,
                        const void** classIdentity, const void** asset, bool* cinematic);

// Counts `rva` in its entry, or claims the first empty one; dropped when all
// eight hold other classes. Lock-free.
void noteObservedVtable(uint64_t rva);

}  // namespace corvane::world
