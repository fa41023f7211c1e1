#include "shadow/publication.h"

#include <cstring>

#include "diagnostics/counters.h"
#include "platform/locks.h"
#include "world/content_key.h"

namespace corvane::shadow {

using diagnostics::bump;
using diagnostics::counters;

SlimLock shadowPublicationLock;
ShadowSlot pointerTable[kShadowSlotCount];
ShadowSlot contentTable[kShadowSlotCount];

namespace {

constexpr uint64_t kSlotMask = kShadowSlotCount - 1;
constexpr uint64_t kPointerSpread = 0xC15;
constexpr uint64_t kContentMix = 0xFF51AFD7ED558CCDull;

bool isFresh(const ShadowSlot& slot, uint64_t serial) { return slot.serial + kShadowFreshSerials >= serial; }
bool isStale(const ShadowSlot& slot, uint64_t serial) { return slot.serial + kShadowStaleSerials < serial; }

}  // namespace

uint32_t shadowPointerSlot(const void* keyPointer, uint32_t i) {
  const uint64_t p = reinterpret_cast<uintptr_t>(keyPointer);
  const uint64_t h = ((p >> 17) ^ p) >> 4;
  return static_cast<uint32_t>((h * kPointerSpread + i) & kSlotMask);
}

uint32_t shadowContentSlot(uint64_t key, uint32_t j) {
  uint64_t c = (key ^ (key >> 33)) * kContentMix;
  c ^= c >> 33;
  return static_cast<uint32_t>((c + j) & kSlotMask);
}

void publishShadowCorrection(const void* keyPointer, uint64_t key, const Matrix4x4& correction, uint64_t serial) {
  const uint64_t p = reinterpret_cast<uintptr_t>(keyPointer);
  bool pointerPublished = false;
  bool contentPublished = false;
  {
    os::ExclusiveGuard guard(shadowPublicationLock);
    ShadowSlot* pointerTarget = nullptr;
    ShadowSlot* pointerStale = nullptr;
    for (uint32_t i = 0; i < kShadowProbes; ++i) {
      ShadowSlot& slot = pointerTable[shadowPointerSlot(keyPointer, i)];
      if (slot.keyPointer == p || slot.keyPointer == 0) {
        pointerTarget = &slot;
        break;
      }
      if (pointerStale == nullptr && isStale(slot, serial)) pointerStale = &slot;
    }
    if (pointerTarget == nullptr) pointerTarget = pointerStale;

    ShadowSlot* contentTarget = nullptr;
    ShadowSlot* contentStale = nullptr;
    for (uint32_t j = 0; j < kShadowProbes; ++j) {
      ShadowSlot& slot = contentTable[shadowContentSlot(key, j)];
      if ((slot.keyPointer == p && slot.contentKey == key) || slot.keyPointer == 0) {
        contentTarget = &slot;
        break;
      }
      if (contentStale == nullptr && isStale(slot, serial)) contentStale = &slot;
    }
    if (contentTarget == nullptr) contentTarget = contentStale;

    const ShadowSlot value = {p, key, correction, serial};
    if (pointerTarget != nullptr) *pointerTarget = value;
    if (contentTarget != nullptr) *contentTarget = value;
    pointerPublished = pointerTarget != nullptr;
    contentPublished = contentTarget != nullptr;
  }
  bump(pointerPublished ? counters.shadow.published : counters.shadow.capacityMissPointer);
  if (!contentPublished) bump(counters.shadow.capacityMissContent);
}

bool findShadowCorrection(const void* transform, const Matrix4x4& current, uint64_t serial, Matrix4x4* correction) {
  const uint64_t key = world::contentKey(current);
  os::SharedGuard guard(shadowPublicationLock);
  return findShadowCorrectionHeld(transform, key, serial, correction);
}

bool findShadowCorrectionHeld(const void* transform, uint64_t key, uint64_t serial, Matrix4x4* correction) {
  const uint64_t p = reinterpret_cast<uintptr_t>(transform);
  for (uint32_t i = 0; i < kShadowProbes; ++i) {
    const ShadowSlot& slot = pointerTable[shadowPointerSlot(transform, i)];
    if (slot.keyPointer == p) {
      if (slot.contentKey == key && isFresh(slot, serial)) {
        *correction = slot.correction;
        bump(counters.shadow.matchesDirect);
        return true;
      }
      break;
    }
    if (slot.keyPointer == 0) break;
  }

  const ShadowSlot* candidate = nullptr;
  for (uint32_t j = 0; j < kShadowProbes; ++j) {
    const ShadowSlot& slot = contentTable[shadowContentSlot(key, j)];
    if (slot.keyPointer == 0) break;
    if (slot.contentKey != key || !isFresh(slot, serial)) continue;
    if (candidate != nullptr && candidate->keyPointer != slot.keyPointer) {
      bump(counters.shadow.matchesAmbiguous);
      return false;
    }
    candidate = &slot;
  }
  if (candidate == nullptr) {
    bump(counters.shadow.cacheMiss);
    return false;
  }
  *correction = candidate->correction;
  bump(counters.shadow.matchesContent);
  return true;
}

}  // namespace corvane::shadow
