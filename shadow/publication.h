// Corrections published by the GPU-copy hook for the shadow caster proxies,
// keyed by the transform's address and by its contents.
#pragma once
#include <cstddef>
#include <cstdint>

#include "camera/frame_state.h"
#include "math/types.h"

namespace corvane::os {
struct SlimLock;
}

namespace corvane::shadow {

using math::Matrix4x4;

struct ShadowSlot {
  uint64_t keyPointer;  // 0 marks an empty slot
  uint64_t contentKey;
  Matrix4x4 correction;
  uint64_t serial;
};

constexpr size_t kShadowSlotCount = 4096;
constexpr uint32_t kShadowProbes = 32;
// A publication serves lookups up to this many serials after its own.
constexpr uint64_t kShadowFreshSerials = 2;
// A slot more than this many serials old may be taken by another publication:
// the staleness rule of every table.
constexpr uint64_t kShadowStaleSerials = camera::kTrackStaleSerials;

// Both tables, under one lock: exclusive to publish, shared to look up.
using os::SlimLock;
extern SlimLock shadowPublicationLock;
extern ShadowSlot pointerTable[kShadowSlotCount];
extern ShadowSlot contentTable[kShadowSlotCount];

// Slot of probe `i` in the pointer-keyed and the content-keyed table.
uint32_t shadowPointerSlot(const void* keyPointer, uint32_t i);
uint32_t shadowContentSlot(uint64_t key, uint32_t j);

// `keyPointer` is the model's current world matrix in the host record; `key` its
// contentKey; `correction` the matrix that, on the left, gives the presented one.
void publishShadowCorrection(const void* keyPointer, uint64_t key, const Matrix4x4& correction, uint64_t serial);
// A fresh correction for the transform at `transform` whose bytes are now
// `current`: by address first, then by content (refused when two models match).
bool findShadowCorrection(const void* transform, const Matrix4x4& current, uint64_t serial, Matrix4x4* correction);
// The same for a run of lookups: `key` is contentKey(current), and the caller
// holds shadowPublicationLock shared around the run.
bool findShadowCorrectionHeld(const void* transform, uint64_t key, uint64_t serial, Matrix4x4* correction);

// Empties both tables. Tests only.
void resetShadowPublicationForTests();

}  // namespace corvane::shadow
