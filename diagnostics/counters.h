// Process-wide cumulative event counts, named by their keys in the report lines.
// Only ever increased by one; never reset.
//
// The renderer threads count the same events thousands of times a frame, so
// every counter is kept in kCounterShards copies, and a reader adds the copies
// up. Copies 1 to kCounterShards - 1 each belong to the first thread whose key
// selects it: only that thread writes it, so it adds with an atomic load and
// store and no locked instruction. Every other thread adds to copy 0 with an
// atomic increment. `counters` is copy 0 and names every counter; the others
// lie in counterShards.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/thread_key.h"

namespace corvane::diagnostics {

using Counter = std::atomic<uint64_t>;

struct WorldCounters {
  Counter candidates, exactStatic, exactSkinned, eligible, supported, uniformScaled;
  Counter reflectedSupported, reflectedMoving, reflectedAdjusted;  // reflected[...]
  Counter moving, tracks, pairs, adjusted, adjustedSkinned;
  Counter rejectedVtable, rejectedDepth, rejectedOwner, rejectedNonRigid;
  Counter nonRigidCurrent, nonRigidPrevious;  // nonRigid(current), nonRigid(previous)
  Counter rejectedDiscontinuity, rejectedSameTime, rejectedJump, rejectedReflectionParity;
  Counter capacityMiss, nonRigidCapacityMiss;
  Counter cinematicEligible, cinematicAdjusted;  // "World cinematic" line
};

struct ShadowCounters {
  Counter calls, published, matchesDirect, matchesContent, matchesAmbiguous, adjusted, cacheMiss, unreadable;
  Counter proxyCalls, proxyLists, proxyCapacityMiss;
  Counter capacityMissPointer, capacityMissContent;
};

struct SkeletalCounters {
  Counter calls, exactSkinned, eligibleWorld, eligibleFirstPerson, pending, timeSamples, changed;
  Counter palettesRigid, palettesNonRigid, tracks, pairs;
  Counter uploadPrepared, uploadAdjusted, uploadForced, uploadSkipped, uploadForceFailed;
  Counter uploadFrames, uploadSameFrame, uploadChanged, uploadRepeated, uploadGap1, uploadGap2, uploadGapMore;
  Counter uploadAlpha[5];
  Counter discontinuity, interpolationRejected;
  Counter rejectedFirstPersonDisabled, rejectedDepthHack, rejectedOwner, rejectedLayout, rejectedSameTime;
  Counter ownerFallbackFirstPerson, capacityMiss;
  // "Skeletal scope" line.
  Counter scopePairsWorld, scopePairsFirstPerson, scopePreparedWorld, scopePreparedFirstPerson;
  Counter scopeAdjustedWorld, scopeAdjustedFirstPerson, scopeForcedWorld, scopeForcedFirstPerson;
  Counter firstPersonFrames, firstPersonChanged, firstPersonRepeated, firstPersonGap1, firstPersonGap2,
      firstPersonGapMore;
  // "Skeletal cinematic" line.
  Counter cinematicEligible, cinematicPairs, cinematicPrepared, cinematicAdjusted, cinematicForced, cinematicFrames;
  Counter ownerlessCapacityMiss;  // ownerless.capacityMiss
};

struct alignas(64) Counters {
  WorldCounters world;
  ShadowCounters shadow;
  SkeletalCounters skeletal;
};

constexpr size_t kCounterShards = 16;
extern Counters counters;
extern Counters counterShards[kCounterShards - 1];

namespace counter_shards {
// The copy of `counter` in shard `shard` (0 is `counters`); a counter outside
// `counters` has no other copies.
inline Counter* copyIn(const Counter& counter, size_t shard) {
  const uintptr_t offset = reinterpret_cast<uintptr_t>(&counter) - reinterpret_cast<uintptr_t>(&counters);
  if (shard == 0 || offset >= sizeof(Counters)) return const_cast<Counter*>(&counter);
  return reinterpret_cast<Counter*>(reinterpret_cast<uintptr_t>(&counterShards[shard - 1]) + offset);
}
}  // namespace counter_shards

// The thread whose key owns each copy (0: none yet; copy 0 is never owned). A
// copy is never given back: a thread that ends keeps it, and a later thread
// given the same key (the address of a block the system reuses) takes it over,
// which is safe because two running threads never share a key.
extern std::atomic<uintptr_t> shardOwners[kCounterShards];

inline void bump(Counter& counter) {
  const uintptr_t key = os::currentThreadKey();
  const size_t shard = os::threadPartOf(key, kCounterShards);
  Counter* copy = counter_shards::copyIn(counter, shard);
  if (shard != 0 && copy != &counter) {
    uintptr_t owner = shardOwners[shard].load(std::memory_order_relaxed);
    if (owner == key || (owner == 0 && shardOwners[shard].compare_exchange_strong(owner, key))) {
      copy->store(copy->load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      return;
    }
  }
  counter.fetch_add(1, std::memory_order_relaxed);
}
inline uint64_t read(const Counter& counter) {
  uint64_t sum = 0;
  for (size_t shard = 0; shard < kCounterShards; ++shard) {
    sum += counter_shards::copyIn(counter, shard)->load(std::memory_order_relaxed);
  }
  return sum;
}

}  // namespace corvane::diagnostics
