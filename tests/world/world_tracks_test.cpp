// The world and non-rigid track tables and the recognition of world models.
#include <gtest/gtest.h>

#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "tests/support/model_host.h"
#include "world/content_key.h"
#include "world/identify_model.h"
#include "world/test_seam.h"
#include "world/world_tracks.h"

using namespace corvane::bootstrap;
using namespace corvane::diagnostics;
using namespace corvane::world;

namespace {

// Owners whose start index equals `owner`'s for the same model: the index keeps
// 13 bits of a sum that has (owner >> 4) as a term.
const void* collidingOwner(const void* owner, uint64_t k) {
  return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(owner) + k * (kWorldTrackCount << 4));
}

class WorldTrackTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetWorldTracksForTests();
    lockExclusive(worldTrackLock);
  }
  void TearDown() override { unlockExclusive(worldTrackLock); }
  const void* model = reinterpret_cast<const void*>(0x2000'0000'1230ull);
  const void* owner = reinterpret_cast<const void*>(0x3000'0000'4560ull);
};

TEST_F(WorldTrackTableTest, IdsStartAtOneInEachTable) {
  WorldTrack* first = findWorldTrack(model, owner, 5, true);
  WorldTrack* second = findWorldTrack(model, collidingOwner(owner, 1), 5, true);
  NonRigidTrack* nonRigid = findNonRigidTrack(model, owner, 5, true);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(nonRigid, nullptr);
  EXPECT_EQ(first->id, 1u);
  EXPECT_EQ(second->id, 2u);
  EXPECT_EQ(nonRigid->id, 1u);
  EXPECT_EQ(first->firstSerial, 5u);
  EXPECT_EQ(findWorldTrack(model, owner, 6, false), first);
  EXPECT_EQ(findWorldTrack(model, reinterpret_cast<const void*>(0x99), 6, false), nullptr);
}

TEST_F(WorldTrackTableTest, StartSlotsOfBothTables) {
  // Slots worked out once with a separate Python script from the two index formulas.
  const uint64_t cases[][4] = {{0x2000'0000'1230, 0x3000'0000'4560, 2128, 80},
                               {0x7FF6'1234'5670, 0x10, 584, 584},  // owner >> 4 below 1003
                               {0x1'0000'0040, 0x7FF0'DEAD'BEE0, 6400, 256}};
  for (const auto& c : cases) {
    const void* m = reinterpret_cast<const void*>(c[0]);
    const void* o = reinterpret_cast<const void*>(c[1]);
    EXPECT_EQ(uint64_t(findWorldTrack(m, o, 1, true) - worldTrackTable), c[2]);
    EXPECT_EQ(uint64_t(findNonRigidTrack(m, o, 1, true) - nonRigidTable), c[3]);
  }
}

TEST_F(WorldTrackTableTest, ProbesFindAMatchBeyondAnEmptySlot) {
  WorldTrack* first = findWorldTrack(model, owner, 1, true);
  WorldTrack* second = findWorldTrack(model, collidingOwner(owner, 1), 1, true);
  ASSERT_EQ(second, &worldTrackTable[(first - worldTrackTable + 1) & kWorldTrackMask]) << "the next probe";
  first->model = nullptr;  // an empty slot before the track
  EXPECT_EQ(findWorldTrack(model, collidingOwner(owner, 1), 2, false), second);
  EXPECT_EQ(findWorldTrack(model, collidingOwner(owner, 1), 2, true), second);
}

TEST_F(WorldTrackTableTest, FullProbeSequenceMissesUntilASlotIsStale) {
  WorldTrack* tracks[kWorldTrackProbes];
  for (uint64_t k = 0; k < kWorldTrackProbes; ++k) {
    tracks[k] = findWorldTrack(model, collidingOwner(owner, k), 1000, true);
    ASSERT_NE(tracks[k], nullptr);
    tracks[k]->lastSeenSerial = 1000;
  }
  const void* newcomer = collidingOwner(owner, kWorldTrackProbes);
  const uint64_t misses = read(counters.world.capacityMiss);
  EXPECT_EQ(findWorldTrack(model, newcomer, 1600, true), nullptr);
  EXPECT_EQ(read(counters.world.capacityMiss), misses + 1);

  // 601 serials without a visit: the slot may be taken over.
  tracks[20]->lastSeenSerial = 999;
  tracks[40]->lastSeenSerial = 999;
  WorldTrack* replaced = findWorldTrack(model, newcomer, 1600, true);
  EXPECT_EQ(replaced, tracks[20]) << "the first stale slot";
  EXPECT_EQ(replaced->id, kWorldTrackProbes + 1);
  EXPECT_EQ(replaced->ownerKey, newcomer);
  EXPECT_EQ(replaced->lastSeenSerial, 0u);
  EXPECT_EQ(read(counters.world.capacityMiss), misses + 1);
}

TEST_F(WorldTrackTableTest, NonRigidTableProbes32Slots) {
  // Same model, owners 1024 << 4 apart share a start index in this table.
  auto colliding = [&](uint64_t k) {
    return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(owner) + k * (kNonRigidTrackCount << 4));
  };
  for (uint64_t k = 0; k < kNonRigidTrackProbes; ++k) {
    NonRigidTrack* t = findNonRigidTrack(model, colliding(k), 10, true);
    ASSERT_NE(t, nullptr);
    t->lastSeenSerial = 10;
  }
  const uint64_t misses = read(counters.world.nonRigidCapacityMiss);
  EXPECT_EQ(findNonRigidTrack(model, colliding(kNonRigidTrackProbes), 610, true), nullptr);
  EXPECT_EQ(read(counters.world.nonRigidCapacityMiss), misses + 1);
  NonRigidTrack* replaced = findNonRigidTrack(model, colliding(kNonRigidTrackProbes), 611, true);
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(replaced->id, kNonRigidTrackProbes + 1);
}

class IdentifyWorldModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetTestSettings();
    settings.worldTransforms = 1;
  }
  bool identify(const uint8_t* record) {
    return identifyWorldModel(record, &ownerKey, &classIdentity, &asset, &cinematic);
  }
  const void* ownerKey = nullptr;
  const void* classIdentity = nullptr;
  const void* asset = nullptr;
  bool cinematic = true;
};

const void* assetOf(const uint8_t* record) {
  const void* asset;
  std::memcpy(&asset, record + kModelAssetOffset, 8);
  return asset;
}

TEST_F(IdentifyWorldModelTest, StaticWorldModelWithOwner) {
  uint8_t* record = newStaticRecord();
  const uint64_t candidates = read(counters.world.candidates);
  const uint64_t exactStatic = read(counters.world.exactStatic);
  const uint64_t eligible = read(counters.world.eligible);
  ASSERT_TRUE(identify(record));
  EXPECT_FALSE(cinematic);
  EXPECT_EQ(classIdentity, testStaticModelClass());
  EXPECT_EQ(read(counters.world.candidates), candidates + 1);
  EXPECT_EQ(read(counters.world.exactStatic), exactStatic + 1);
  EXPECT_EQ(read(counters.world.eligible), eligible + 1);

  settings.worldTransforms = 0;
  settings.cinematicTransforms = 1;
  EXPECT_FALSE(identify(record));
  EXPECT_EQ(read(counters.world.exactStatic), exactStatic + 1);
}

TEST_F(IdentifyWorldModelTest, DepthAndOwnerRefusals) {
  uint8_t* record = newStaticRecord();
  setDepth(record, 0.5f);
  const uint64_t depth = read(counters.world.rejectedDepth);
  EXPECT_FALSE(identify(record));
  EXPECT_EQ(read(counters.world.rejectedDepth), depth + 1);
  setDepth(record, 1e-6f);
  EXPECT_TRUE(identify(record));

  setDepth(record, 0.0f);
  setOwner(record, nullptr);
  const uint64_t owner = read(counters.world.rejectedOwner);
  EXPECT_FALSE(identify(record));
  EXPECT_EQ(read(counters.world.rejectedOwner), owner + 1);
}

TEST_F(IdentifyWorldModelTest, CinematicModelIsKeyedByItsAssetUpTo64Joints) {
  settings.worldTransforms = 0;
  settings.cinematicTransforms = 1;
  uint8_t* record = newSkinnedRecord(64, 64, nullptr);
  const uint64_t eligible = read(counters.world.cinematicEligible);
  ASSERT_TRUE(identify(record));
  EXPECT_TRUE(cinematic);
  EXPECT_EQ(ownerKey, assetOf(record));
  EXPECT_EQ(asset, assetOf(record));
  EXPECT_EQ(read(counters.world.cinematicEligible), eligible + 1);

  uint8_t* large = newSkinnedRecord(65, 72, nullptr);
  const uint64_t owner = read(counters.world.rejectedOwner);
  EXPECT_FALSE(identify(large));
  EXPECT_FALSE(cinematic);
  EXPECT_EQ(read(counters.world.rejectedOwner), owner + 1);
}

TEST_F(IdentifyWorldModelTest, SkinnedLayoutRules) {
  settings.worldSkeletons = 1;
  EXPECT_TRUE(identify(newSkinnedRecord(9, 16, newOwner())));
  EXPECT_FALSE(identify(newSkinnedRecord(8, 16, newOwner())));
  EXPECT_TRUE(identify(newSkinnedRecord(8, 8 | 0x5A000000, newOwner()))) << "only the low 24 bits count";
  EXPECT_TRUE(identify(newSkinnedRecord(256, 256, newOwner())));
  EXPECT_FALSE(identify(newSkinnedRecord(0, 0, newOwner())));
  EXPECT_FALSE(identify(newSkinnedRecord(257, 264, newOwner())));
  uint8_t* noAsset = newSkinnedRecord(9, 16, newOwner());
  std::memset(noAsset + kModelAssetOffset, 0, 8);
  EXPECT_FALSE(identify(noAsset));
  settings.worldSkeletons = 0;
  EXPECT_FALSE(identify(newSkinnedRecord(9, 16, newOwner()))) << "world skinned models need WorldSkeletons";
}

TEST_F(IdentifyWorldModelTest, UnknownClassesAreNotedUpToEight) {
  resetObservedVtablesForTests();
  uint8_t* record = newStaticRecord();
  const uint64_t vtable = read(counters.world.rejectedVtable);
  for (uint64_t k = 0; k < 9; ++k) {
    const void* identity = hostBase + 0x100000 + k * 8;
    std::memcpy(record, &identity, 8);
    EXPECT_FALSE(identify(record));
    EXPECT_FALSE(k == 0 && identify(record));  // seen twice
  }
  const void* below = hostBase - 0x1000;
  std::memcpy(record, &below, 8);
  EXPECT_FALSE(identify(record));
  EXPECT_EQ(read(counters.world.rejectedVtable), vtable + 11);
  for (uint64_t k = 0; k < kObservedVtableCount; ++k) {
    EXPECT_EQ(observedVtables[k].vtableRva.load(), 0x100000 + k * 8);
    EXPECT_EQ(observedVtables[k].count.load(), k == 0 ? 2u : 1u);
  }
}

TEST(ContentKey, IdentityMatrixKey) {
  useModelHost();
  EXPECT_EQ(contentKey(identityMatrix()), 0x0919A11C38E51FE3ull);
}

}  // namespace
