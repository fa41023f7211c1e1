#include "world/world_tracks.h"

#include <xmmintrin.h>

#include <cstddef>
#include <cstring>

#include "diagnostics/counters.h"

namespace corvane::world {

WorldTrack worldTrackTable[kWorldTrackCount];
NonRigidTrack nonRigidTable[kNonRigidTrackCount];
ShardedLock worldTrackLock;
SlimLock nonRigidTrackLock;
std::atomic<uint64_t> nextWorldTrackId{1};
std::atomic<uint64_t> nextNonRigidTrackId{1};
SlotKey worldTrackKeys[kWorldTrackCount];

namespace {

uint64_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

bool isStale(uint64_t lastSeenSerial, uint64_t serial) { return lastSeenSerial + camera::kTrackStaleSerials < serial; }

// Starts a new track in `slot`, which keeps its key (model, ownerKey): all else
// cleared, a new id, first seen at `serial`.
template <typename Track>
void startTrack(Track* slot, std::atomic<uint64_t>& nextId, uint64_t serial) {
  static_assert(offsetof(Track, model) == 0 && offsetof(Track, ownerKey) == sizeof(void*), "the key leads the track");
  constexpr size_t kKeySize = 2 * sizeof(void*);
  std::memset(reinterpret_cast<uint8_t*>(slot) + kKeySize, 0, sizeof(Track) - kKeySize);
  slot->id = nextId.fetch_add(1, std::memory_order_relaxed);
  slot->firstSerial = serial;
}

// The probe walk shared by both tables; `keys`, when given, mirrors the slots' keys.
template <typename Track>
Track* findTrack(Track* table, SlotKey* keys, uint64_t mask, uint32_t probes, uint64_t start, const void* model,
                 const void* ownerKey, uint64_t serial, bool create, diagnostics::Counter& capacityMiss,
                 std::atomic<uint64_t>& nextId) {
  Track* firstEmpty = nullptr;
  Track* firstStale = nullptr;
  for (uint32_t i = 0; i < probes; ++i) {
    const uint64_t index = (start + i) & mask;
    Track* slot = &table[index];
    const void* slotModel = keys != nullptr ? keys[index].model : slot->model;
    if (slotModel == nullptr) {
      if (firstEmpty == nullptr) firstEmpty = slot;
      continue;
    }
    const void* slotOwner = keys != nullptr ? keys[index].ownerKey : slot->ownerKey;
    if (slotModel == model && slotOwner == ownerKey) return slot;
    if (create && firstStale == nullptr && isStale(slot->lastSeenSerial, serial)) firstStale = slot;
  }
  if (!create) return nullptr;
  Track* slot = firstEmpty != nullptr ? firstEmpty : firstStale;
  if (slot == nullptr) {
    diagnostics::bump(capacityMiss);
    return nullptr;
  }
  slot->model = model;
  slot->ownerKey = ownerKey;
  if (keys != nullptr) keys[slot - table] = SlotKey{model, ownerKey};
  startTrack(slot, nextId, serial);
  return slot;
}

}  // namespace

uint64_t worldTrackStartIndex(const void* model, const void* ownerKey) {
  const uint64_t m = address(model);
  const uint64_t o = address(ownerKey);
  return (((o >> 4) - 1003) + ((m >> 4) << 6) + (m >> 6)) ^ (m >> 4);
}

uint64_t nonRigidTrackStartIndex(const void* model, const void* ownerKey) {
  const uint64_t m = address(model);
  const uint64_t o = address(ownerKey);
  return ((((m >> 4) << 6) + 21) + (m >> 6) + (o >> 4)) ^ (m >> 4);
}

SlimLock& worldTrackPart(const void* model, const void* ownerKey) {
  return os::lockPart(worldTrackLock, worldTrackStartIndex(model, ownerKey));
}

void prefetchWorldTrack(const void* model, const void* ownerKey) {
  const uint64_t index = worldTrackStartIndex(model, ownerKey) & kWorldTrackMask;
  const char* track = reinterpret_cast<const char*>(&worldTrackTable[index]);
  _mm_prefetch(reinterpret_cast<const char*>(&worldTrackKeys[index]), _MM_HINT_T0);
  for (size_t line = 0; line < 3; ++line) _mm_prefetch(track + 64 * line, _MM_HINT_T0);
}

void renewWorldTrack(WorldTrack* track, uint64_t serial) { startTrack(track, nextWorldTrackId, serial); }

WorldTrack* findWorldTrack(const void* model, const void* ownerKey, uint64_t serial, bool create) {
  return findTrack(worldTrackTable, worldTrackKeys, kWorldTrackMask, kWorldTrackProbes,
                   worldTrackStartIndex(model, ownerKey), model, ownerKey, serial, create,
                   diagnostics::counters.world.capacityMiss, nextWorldTrackId);
}

NonRigidTrack* findNonRigidTrack(const void* model, const void* ownerKey, uint64_t serial, bool create) {
  return findTrack(nonRigidTable, static_cast<SlotKey*>(nullptr), kNonRigidTrackMask, kNonRigidTrackProbes,
                   nonRigidTrackStartIndex(model, ownerKey), model, ownerKey, serial, create,
                   diagnostics::counters.world.nonRigidCapacityMiss, nextNonRigidTrackId);
}

}  // namespace corvane::world
