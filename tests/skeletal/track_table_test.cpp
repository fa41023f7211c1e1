// The two fixed track tables: probe sequences, capacity, staleness, ids, and
// the ownerless samples.
#include "tests/skeletal/skeletal_fixture.h"

namespace {

const void* address(uint64_t value) { return reinterpret_cast<const void*>(value); }

// `count` model addresses whose probe sequences all start at the same slot.
std::vector<const void*> collidingModels(const void* key, uint32_t slots, uint32_t count) {
  std::vector<const void*> models;
  const uint64_t target = skeletalSlotHash(address(0x7F0000100000), key) % slots;
  for (uint64_t m = 0x7F0000100000; models.size() < count; m += 16)
    if (skeletalSlotHash(address(m), key) % slots == target) models.push_back(address(m));
  return models;
}

class TrackTableTest : public SkeletalTest {};

TEST_F(TrackTableTest, FirstSlotsOfBothTables) {
  // Slots worked out once with a separate Python script from the slot hash.
  const uint64_t cases[][4] = {{0x2000'0000'1230, 0x3000'0000'4560, 80, 80},
                               {0x7FF6'1234'5670, 0x10, 584, 72},
                               {0x1'0000'0040, 0x7FF0'DEAD'BEE0, 256, 256}};
  ExclusiveGuard guard(skeletalTableLock);
  for (const auto& c : cases) {
    EXPECT_EQ(uint64_t(findSkeletalTrack(address(c[0]), address(c[1]), 1, true) - skeletalTracks), c[2]);
    EXPECT_EQ(uint64_t(findOwnerlessTrack(address(c[0]), address(c[1]), 1, true) - ownerlessTracks), c[3]);
  }
}

TEST_F(TrackTableTest, ThirtyThirdModelOnTheSameProbesMissesUntilASlotGoesStale) {
  const void* owner = address(0x5000);
  const auto models = collidingModels(owner, kSkeletalTrackSlots, 33);
  ExclusiveGuard guard(skeletalTableLock);
  const uint64_t tracks = read(sk().tracks);
  for (int i = 0; i < 32; ++i) ASSERT_NE(findSkeletalTrack(models[i], owner, 100 + (i == 7 ? 0 : 1), true), nullptr);
  EXPECT_EQ(read(sk().tracks), tracks + 32);
  const uint64_t miss = read(sk().capacityMiss);
  EXPECT_EQ(findSkeletalTrack(models[32], owner, 700, false), nullptr);
  EXPECT_EQ(read(sk().capacityMiss), miss);  // a lookup without create is no miss
  EXPECT_EQ(findSkeletalTrack(models[32], owner, 700, true), nullptr);
  EXPECT_EQ(read(sk().capacityMiss), miss + 1);

  // Model 7 was last seen at 100: stale at 701, not at 700.
  SkeletalTrack* slot7 = findSkeletalTrack(models[7], owner, 700, false);
  ASSERT_NE(slot7, nullptr);
  const uint64_t oldId = slot7->id;
  slot7->samples = 9;
  SkeletalTrack* taken = findSkeletalTrack(models[32], owner, 701, true);
  EXPECT_EQ(taken, slot7);
  EXPECT_EQ(taken->model, models[32]);
  EXPECT_GT(taken->id, oldId);
  EXPECT_EQ(taken->samples, 0u);
  EXPECT_EQ(taken->firstSerial, 701u);
  EXPECT_EQ(taken->lastSerial, 701u);
  EXPECT_EQ(taken->nonRigidJoint, kNoNonRigidJoint);
  EXPECT_EQ(findSkeletalTrack(models[7], owner, 701, false), nullptr);
  // Models seen at 101 are still found: a match wins over earlier free slots.
  taken->model = nullptr;
  EXPECT_NE(findSkeletalTrack(models[31], owner, 701, false), nullptr);
}

TEST_F(TrackTableTest, OwnerlessTableHasTwentyFourProbesAndItsOwnMissCounter) {
  const void* asset = address(0x9000);
  const auto models = collidingModels(asset, kOwnerlessTrackSlots, 25);
  ExclusiveGuard guard(skeletalTableLock);
  for (int i = 0; i < 24; ++i) ASSERT_NE(findOwnerlessTrack(models[i], asset, 50, true), nullptr);
  const uint64_t miss = read(sk().ownerlessCapacityMiss), skeletalMiss = read(sk().capacityMiss);
  const uint64_t tracks = read(sk().tracks);
  EXPECT_EQ(findOwnerlessTrack(models[24], asset, 650, true), nullptr);
  EXPECT_EQ(read(sk().ownerlessCapacityMiss), miss + 1);
  EXPECT_EQ(read(sk().capacityMiss), skeletalMiss);
  OwnerlessTrack* taken = findOwnerlessTrack(models[24], asset, 651, true);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->firstNonRigidJoint, kNoNonRigidJoint);
  EXPECT_EQ(read(sk().tracks), tracks);  // ownerless entries are not skeletal tracks
}

TEST_F(TrackTableTest, IdsAreSharedByBothTablesAndNeverReused) {
  ExclusiveGuard guard(skeletalTableLock);
  OwnerlessTrack* ownerless = findOwnerlessTrack(address(0x1000), address(0x2000), 5, true);
  SkeletalTrack* track = findSkeletalTrack(address(0x1000), address(0x2000), 5, true);
  ASSERT_NE(ownerless, nullptr);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->id, ownerless->id + 1);
  EXPECT_EQ(findSkeletalTrack(address(0x1000), address(0x2000), 6, true)->id, track->id);
  restartSkeletalTrack(*track, 9);
  EXPECT_EQ(track->id, ownerless->id + 2);
  EXPECT_EQ(track->model, address(0x1000));
  EXPECT_EQ(track->ownerKey, address(0x2000));
  EXPECT_EQ(track->firstSerial, 9u);
}

TEST_F(TrackTableTest, NonRigidJointFigures) {
  SkeletalTrack& track = skeletalTracks[3];
  Matrix3x4 joint = rigidJoint(0, 0, 1, 0, 1, 2, 3);
  joint.m[0] = 2.0f;  // row 0 stretched
  joint.m[4] = 0.5f;  // row 1 leaning on row 0
  recordNonRigidJoint(joint, track, 17);
  EXPECT_EQ(track.nonRigidJoint, 17u);
  EXPECT_DOUBLE_EQ(track.rowLength[0], 2.0);
  EXPECT_DOUBLE_EQ(track.rowLength[1], std::sqrt(1.25));
  EXPECT_DOUBLE_EQ(track.rowLength[2], 1.0);
  EXPECT_DOUBLE_EQ(track.maxRowDot, 1.0);
  EXPECT_DOUBLE_EQ(track.det, 2.0);
  std::memset(&track, 0, sizeof track);
}

TEST_F(TrackTableTest, OwnerlessSamplesTakeOnlyNewSampleTimes) {
  Matrix3x4 palette[16];
  writePose(palette, 16, 0.0);
  const void* model = address(0x4440);
  const void* asset = address(0x8880);
  const uint64_t firstHash = digestMatrix3x4Array(palette, 12);
  PresentationFrame f{1.0, 2.0, 40, true};
  recordOwnerlessSample(model, asset, palette, 12, 16, 1, f);
  ExclusiveGuard guard(skeletalTableLock);
  OwnerlessTrack* track = findOwnerlessTrack(model, asset, 40, false);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->samples, 1u);
  EXPECT_EQ(track->rigidSamples, 1u);
  EXPECT_EQ(track->changes, 0u);
  EXPECT_TRUE(track->rigid);
  EXPECT_EQ(track->hash, firstHash);
  EXPECT_EQ(track->root[1], palette[0].m[7]);
  unlockExclusive(skeletalTableLock);

  // Same sample time (within 1e-7): bookkeeping only.
  writePose(palette, 16, 30.0);
  palette[4].m[5] = 3.0f;
  recordOwnerlessSample(model, asset, palette + 1, 10, 16, -2, PresentationFrame{1.1, 2.0 + 5e-8, 41, true});
  lockExclusive(skeletalTableLock);
  EXPECT_EQ(track->samples, 1u);
  EXPECT_EQ(track->lastSerial, 41u);
  EXPECT_EQ(track->pending, -2);
  EXPECT_EQ(track->joints, 10u);
  EXPECT_EQ(track->palette, palette + 1);
  EXPECT_EQ(track->hash, firstHash);
  unlockExclusive(skeletalTableLock);

  recordOwnerlessSample(model, asset, palette, 12, 16, 0, PresentationFrame{1.2, 2.1, 42, true});
  lockExclusive(skeletalTableLock);
  EXPECT_EQ(track->samples, 2u);
  EXPECT_EQ(track->changes, 1u);
  EXPECT_EQ(track->firstChangeSerial, 42u);
  EXPECT_EQ(track->lastChangeSerial, 42u);
  EXPECT_FALSE(track->rigid);
  EXPECT_EQ(track->firstNonRigidJoint, 4u);
  EXPECT_EQ(track->rigidSamples, 1u);
}

}  // namespace
