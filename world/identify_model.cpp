#include "world/identify_model.h"

#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "math/types.h"
#include "patch/readable.h"
#include "world/model_record.h"

namespace corvane::world {

using bootstrap::readField;
using bootstrap::settings;
using diagnostics::bump;
using patch::isReadableRange;

ObservedVtable observedVtables[kObservedVtableCount];

void noteObservedVtable(uint64_t rva) {
  if (rva == 0) return;
  for (ObservedVtable& entry : observedVtables) {
    uint64_t held = entry.vtableRva.load(std::memory_order_acquire);
    if (held == 0) {
      if (entry.vtableRva.compare_exchange_strong(held, rva, std::memory_order_acq_rel)) {
        // An increment, not a store of 1: a thread that already sees the new RVA
        // may count it before this line runs.
        entry.count.fetch_add(1, std::memory_order_relaxed);
        return;
      }
      // Another thread claimed the entry; `held` now says with what.
    }
    if (held == rva) {
      entry.count.fetch_add(1, std::memory_order_relaxed);
      return;
    }
  }
}

bool identifyWorldModel(const uint8_t* record, const void** ownerKey, const void** classIdentity, const void** asset,
                        bool* cinematic) {
  ReadableRegionMemo probes;
  return identifyWorldModel(probes, record, ownerKey, classIdentity, asset, cinematic);
}

bool identifyWorldModel(ReadableRegionMemo& probes, const uint8_t* record, const void** ownerKey,
                        const void** classIdentity, const void** asset, bool* cinematic) {
  diagnostics::WorldCounters& c = diagnostics::counters.world;
  *cinematic = false;
  *asset = nullptr;
  bump(c.candidates);
  if (!isReadableRange(probes, record, bootstrap::kModelRecordLength)) return false;
  const void* identity = readField<const void*>(record, 0);
  *classIdentity = identity;

  const bool skinned = identity == skinnedModelClass();
  uint32_t joints = 0;
  if (identity == staticModelClass()) {
    if (!settings.worldTransforms) return false;
    bump(c.exactStatic);
  } else if (skinned) {
    bump(c.exactSkinned);
    if (!((settings.worldTransforms && settings.worldSkeletons) || settings.cinematicTransforms)) return false;
    if (!isReadableRange(probes, record, bootstrap::kSkinnedModelRecordLength)) return false;
    const void* assetPointer = readField<const void*>(record, bootstrap::kModelAssetOffset);
    *asset = assetPointer;
    if (!isReadableRange(probes, assetPointer, 8)) return false;
    joints = readField<uint32_t>(record, bootstrap::kModelJointsOffset);
    if (joints < 1 || joints > kMaxModelJoints) return false;
    const uint32_t padded =
        readField<uint32_t>(record, bootstrap::kModelPaddedJointsOffset) & bootstrap::kPaddedJointsMask;
    const uint32_t expected = (joints + kJointPadding - 1) / kJointPadding * kJointPadding;
    if (padded != expected || padded > kMaxModelJoints) return false;
  } else {
    bump(c.rejectedVtable);
    const uintptr_t value = reinterpret_cast<uintptr_t>(identity);
    const uintptr_t base = reinterpret_cast<uintptr_t>(bootstrap::hostBase);
    if (value >= base) noteObservedVtable(value - base);
    return false;
  }

  const float depth = readField<float>(record, bootstrap::kModelDepthValueOffset);
  if (!math::isFiniteFloat(depth) || !(static_cast<double>(depth < 0 ? -depth : depth) <= kWorldDepthTolerance)) {
    bump(c.rejectedDepth);
    return false;
  }

  const void* owner = readField<const void*>(record, bootstrap::kModelOwnerOffset);
  *ownerKey = owner;
  if (owner == nullptr) {
    if (skinned && settings.cinematicTransforms && joints <= kMaxCinematicJoints) {
      *ownerKey = *asset;
      *cinematic = true;
      bump(c.cinematicEligible);
      bump(c.eligible);
      return true;
    }
    bump(c.rejectedOwner);
    return false;
  }
  if (skinned && !(settings.worldTransforms && settings.worldSkeletons)) return false;
  bump(c.eligible);
  return true;
}

}  // namespace corvane::world
