// Process-wide cumulative event counts, named by their keys in the report lines.
// Only ever increased by one with an atomic increment; never reset.
//
// The renderer threads count the same events thousands of times a frame, so
// every counter is kept in kCounterShards copies: a thread adds to the copy its
// thread key selects (threads that share one still count exactly, with the
// same atomic increment), and a reader adds the copies up. `counters` is the
// first copy and names every counter; the others lie in counterShards.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/thread_key.h"

namespace corvane::diagnostics {

using os::threadPart;

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
inline size_t shardOfThisThread() { return threadPart(kCounterShards); }
}  // namespace counter_shards

inline void bump(Counter& counter) {
  counter_shards::copyIn(counter, counter_shards::shardOfThisThread())->fetch_add(1, std::memory_order_relaxed);
}
inline uint64_t read(const Counter& counter) {
  uint64_t sum = 0;
  for (size_t shard = 0; shard < kCounterShards; ++shard) {
    sum += counter_shards::copyIn(counter, shard)->load(std::memory_order_relaxed);
  }
  return sum;
}

}  // namespace corvane::diagnostics
