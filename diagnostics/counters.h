// Process-wide cumulative event counts, named by their keys in the report lines.
// Only ever increased by one with an atomic increment; never reset.
#pragma once
#include <atomic>
#include <cstdint>

using Counter = std::atomic<uint64_t>;

inline void bump(Counter& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
inline uint64_t read(const Counter& counter) { return counter.load(std::memory_order_relaxed); }

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
  Counter cinematicEligible, cinematicPairs, cinematicPrepared, cinematicAdjusted, cinematicForced,
      cinematicFrames;
  Counter ownerlessCapacityMiss;  // ownerless.capacityMiss
};

struct Counters {
  WorldCounters world;
  ShadowCounters shadow;
  SkeletalCounters skeletal;
};

extern Counters counters;
