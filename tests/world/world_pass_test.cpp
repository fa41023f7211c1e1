// The world pass against expectations worked out by hand: when a model gets a
// correction, which one, and what each refusal counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "diagnostics/counters.h"
#include "tests/support/model_host.h"
#include "world/test_seam.h"
#include "world/world_pass.h"
#include "world/world_tracks.h"

using namespace corvane::bootstrap;
using namespace corvane::diagnostics;
using namespace corvane::os;
using namespace corvane::world;

namespace {

class WorldPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetTestSettings();
    resetWorldTracksForTests();
    settings.worldTransforms = 1;
    record = newStaticRecord();
  }

  // One visit of the record at serial `serial`.
  bool visit(uint64_t serial, double presentationTime, double sampleTime, WorldCorrection* out = nullptr) {
    WorldCorrection scratch;
    std::memset(&scratch, 0, sizeof scratch);
    const PresentationFrame frame{presentationTime, sampleTime, serial, true};
    return prepareWorldCorrection(record, frame, out != nullptr ? out : &scratch);
  }

  WorldTrack track() {
    ExclusiveGuard guard(worldTrackLock);
    WorldTrack* t = findWorldTrack(record, readOwner(), 0, false);
    return t != nullptr ? *t : WorldTrack{};
  }

  const void* readOwner() const {
    const void* owner;
    std::memcpy(&owner, record + kModelOwnerOffset, 8);
    return owner;
  }

  // The x position the current correction presents the host's current matrix at.
  static double presentedX(const WorldCorrection& c, const uint8_t* rec) {
    return product(c.currentForward, readMatrix(rec, kModelCurrentWorldOffset)).m[3];
  }

  uint8_t* record = nullptr;
};

TEST_F(WorldPassTest, AlphaFollowsThePresentationTimeWithCappedExtrapolation) {
  struct Case {
    double presentationTime;
    double expectedX;
  };
  // Samples at 0.0 (x=0) and 0.0333 (x=1).
  const Case cases[] = {
      {0.0500, (0.0333 + 0.008333334) / 0.0333},  // capped: ~1.25
      {0.0200, 0.0200 / 0.0333},                  // ~0.6
      {-0.0100, 0.0},                             // before the previous sample: alpha 0
  };
  for (const Case& c : cases) {
    resetWorldTracksForTests();
    setWorldMatrices(record, {0, 0}, {0, 0});
    EXPECT_FALSE(visit(1, 0.0, 0.0));
    setWorldMatrices(record, {0, 1}, {0, 0});
    WorldCorrection out;
    ASSERT_TRUE(visit(2, c.presentationTime, 0.0333, &out)) << c.presentationTime;
    EXPECT_EQ(out.presentationSerial, 2u);
    EXPECT_NEAR(presentedX(out, record), c.expectedX, 1e-4) << c.presentationTime;
    // The previous slot goes onto what was presented: the same matrix on a first frame.
    EXPECT_NEAR(product(out.previousForward, readMatrix(record, kModelPreviousWorldOffset)).m[3], c.expectedX, 1e-4);
    // The inverse pair undoes the forward one.
    EXPECT_LT(maxDifference(product(out.currentInverse, out.currentForward), identityMatrix()), 1e-5f);
  }
  EXPECT_NEAR((0.0333 + 0.008333334) / 0.0333, 1.25, 0.001);
}

TEST_F(WorldPassTest, NewModelIsCorrectedOnlyAfterALaterSample) {
  const uint64_t tracks = read(counters.world.tracks);
  setWorldMatrices(record, {0, 0}, {0, 0});
  EXPECT_FALSE(visit(1, 0.01, 0.0));
  EXPECT_EQ(read(counters.world.tracks), tracks + 1);
  EXPECT_FALSE(visit(2, 0.02, 0.0));  // same sample, nothing to pair with
  setWorldMatrices(record, {0, 1}, {0, 0});
  EXPECT_TRUE(visit(3, 0.04, 0.0333));
  EXPECT_EQ(track().correctedCount, 1u);
  EXPECT_EQ(track().motionCount, 1u);
}

TEST_F(WorldPassTest, ModelAtRestGetsNoCorrection) {
  // Scaled and mirrored, so that every count of an admitted pair moves.
  setWorldMatrices(record, {20, 3, 4, 5, 2.0, true}, {20, 3, 4, 5, 2.0, true});
  WorldCounters& c = counters.world;
  const uint64_t pairs = read(c.pairs), moving = read(c.moving), supported = read(c.supported);
  const uint64_t scaled = read(c.uniformScaled), reflected = read(c.reflectedSupported);
  EXPECT_FALSE(visit(1, 0.01, 0.0));
  EXPECT_FALSE(visit(2, 0.04, 0.0333));
  EXPECT_EQ(read(c.pairs), pairs + 1);
  EXPECT_TRUE(track().pairValid);
  EXPECT_TRUE(track().presentedValid);
  // Frames between and across samples, some drawn twice: each visit counts
  // the pair admitted, each new sample time a pair, nothing moves.
  const Matrix4x4 presented = track().presentedCurrent;
  uint64_t visits = 2;
  for (uint64_t serial = 3; serial <= 12; ++serial, ++visits) {
    const double sampleTime = 0.0333 * static_cast<double>(1 + (serial - 2) / 3);
    EXPECT_FALSE(visit(serial, 0.0333 + 0.012 * static_cast<double>(serial - 2), sampleTime));
    EXPECT_FALSE(serial % 4 == 0 && ++visits && visit(serial, 0.0, sampleTime));
    EXPECT_EQ(track().currentSampleTime, sampleTime);
  }
  EXPECT_EQ(read(c.pairs), pairs + 4);
  EXPECT_EQ(read(c.supported), supported + visits);
  EXPECT_EQ(read(c.uniformScaled), scaled + visits);
  EXPECT_EQ(read(c.reflectedSupported), reflected + visits);
  EXPECT_EQ(read(c.moving), moving);
  const WorldTrack t = track();
  EXPECT_EQ(t.previousSampleTime, 0.0333 * 3);
  EXPECT_EQ(t.lastSeenSerial, 12u);
  EXPECT_EQ(t.preparedSerial, 12u);
  EXPECT_EQ(std::memcmp(&t.presentedCurrent, &presented, sizeof presented), 0);
  EXPECT_EQ(t.correctedCount, 0u);
  // Moved one unit and at rest there: what is presented is the new place.
  setWorldMatrices(record, {20, 4, 4, 5}, {20, 4, 4, 5});
  visit(3, 0.07, 0.0666);
  visit(4, 0.10, 0.0999);  // the previous slot still goes onto the last frame
  EXPECT_FALSE(visit(5, 0.11, 0.0999));
  EXPECT_NEAR(track().presentedCurrent.m[3], 4.0, 1e-5);
}

TEST_F(WorldPassTest, GapReseedsTheTrackKeepingItsId) {
  setWorldMatrices(record, {0, 0}, {0, 0});
  visit(1, 0.0, 0.0);
  setWorldMatrices(record, {0, 1}, {0, 0});
  ASSERT_TRUE(visit(2, 0.04, 0.0333));
  const uint64_t id = track().id;
  const uint64_t discontinuities = read(counters.world.rejectedDiscontinuity);
  setWorldMatrices(record, {0, 2}, {0, 1});
  EXPECT_FALSE(visit(3, 0.1, 0.0333 + 0.06));
  EXPECT_EQ(read(counters.world.rejectedDiscontinuity), discontinuities + 1);
  const WorldTrack t = track();
  EXPECT_EQ(t.id, id);
  EXPECT_EQ(t.discontinuities, 1u);
  EXPECT_EQ(t.correctedCount, 1u) << "statistics survive a reseed";
  EXPECT_FALSE(t.pairValid);
  EXPECT_EQ(t.currentSampleTime, 0.0333 + 0.06);

  // The clock going back reseeds too.
  EXPECT_FALSE(visit(4, 0.1, 0.05));
  EXPECT_EQ(read(counters.world.rejectedDiscontinuity), discontinuities + 2);
  EXPECT_EQ(track().discontinuities, 2u);
}

TEST_F(WorldPassTest, MovementWithoutANewSampleDropsThePair) {
  setWorldMatrices(record, {0, 0}, {0, 0});
  visit(1, 0.0, 0.0);
  setWorldMatrices(record, {0, 1}, {0, 0});
  ASSERT_TRUE(visit(2, 0.04, 0.0333));
  const uint64_t sameTime = read(counters.world.rejectedSameTime);
  setWorldMatrices(record, {0, 1.5}, {0, 0});
  EXPECT_FALSE(visit(3, 0.045, 0.0333));
  EXPECT_EQ(read(counters.world.rejectedSameTime), sameTime + 1);
  EXPECT_FALSE(track().pairValid);
  // A tiny change is the same placement.
  setWorldMatrices(record, {0, 1.5 + 5e-5}, {0, 0});
  EXPECT_FALSE(visit(4, 0.046, 0.0333));
  EXPECT_EQ(read(counters.world.rejectedSameTime), sameTime + 1);
}

TEST_F(WorldPassTest, JumpIsRefusedUntilTheNextSamplePairsWithIt) {
  setWorldMatrices(record, {0, 0}, {0, 0});
  visit(1, 0.0, 0.0);
  const uint64_t jumps = read(counters.world.rejectedJump);
  setWorldMatrices(record, {0, 65}, {0, 0});
  EXPECT_FALSE(visit(2, 0.04, 0.0333));
  EXPECT_EQ(read(counters.world.rejectedJump), jumps + 1);
  setWorldMatrices(record, {0, 66}, {0, 65});
  WorldCorrection out;
  ASSERT_TRUE(visit(3, 0.0666 + 0.004, 0.0666, &out));
  EXPECT_NEAR(presentedX(out, record), 66.0 + 0.004 / 0.0333, 1e-3);
  EXPECT_EQ(read(counters.world.rejectedJump), jumps + 1);
}

TEST_F(WorldPassTest, ReflectionParityIsRefused) {
  // The host's two matrices disagree.
  const uint64_t parity = read(counters.world.rejectedReflectionParity);
  setWorldMatrices(record, {0, 0, 0, 0, 1, true}, {0, 0});
  EXPECT_FALSE(visit(1, 0.0, 0.0));
  EXPECT_EQ(read(counters.world.rejectedReflectionParity), parity + 1);

  // The track's previous sample was unmirrored, the new one is mirrored.
  uint8_t* other = newStaticRecord();
  std::swap(record, other);
  setWorldMatrices(record, {0, 0}, {0, 0});
  visit(2, 0.0, 0.0);
  const uint64_t reflected = read(counters.world.reflectedSupported);
  setWorldMatrices(record, {0, 0.5, 0, 0, 1, true}, {0, 0.5, 0, 0, 1, true});
  EXPECT_FALSE(visit(3, 0.04, 0.0333));
  EXPECT_EQ(read(counters.world.rejectedReflectionParity), parity + 2);
  EXPECT_EQ(read(counters.world.reflectedSupported), reflected + 1);
  EXPECT_FALSE(track().pairValid);
}

TEST_F(WorldPassTest, MirroredModelIsInterpolatedAndCounted) {
  setWorldMatrices(record, {0, 0, 0, 0, 1, true}, {0, 0, 0, 0, 1, true});
  visit(1, 0.0, 0.0);
  const uint64_t adjusted = read(counters.world.reflectedAdjusted);
  const uint64_t moving = read(counters.world.reflectedMoving);
  setWorldMatrices(record, {0, 1, 0, 0, 1, true}, {0, 0, 0, 0, 1, true});
  WorldCorrection out;
  ASSERT_TRUE(visit(2, 0.02, 0.0333, &out));
  EXPECT_NEAR(presentedX(out, record), 0.02 / 0.0333, 1e-4);
  EXPECT_EQ(read(counters.world.reflectedAdjusted), adjusted + 1);
  EXPECT_EQ(read(counters.world.reflectedMoving), moving + 1);
  EXPECT_TRUE(track().reflected);
}

TEST_F(WorldPassTest, UniformlyScaledModelIsAdmittedAndCounted) {
  const uint64_t scaled = read(counters.world.uniformScaled);
  setWorldMatrices(record, {0, 0, 0, 0, 2.0}, {0, 0, 0, 0, 2.0});
  visit(1, 0.0, 0.0);
  setWorldMatrices(record, {0, 1, 0, 0, 2.0}, {0, 0, 0, 0, 2.0});
  WorldCorrection out;
  ASSERT_TRUE(visit(2, 0.02, 0.0333, &out));
  EXPECT_NEAR(presentedX(out, record), 0.02 / 0.0333, 1e-4);
  EXPECT_EQ(read(counters.world.uniformScaled), scaled + 2);
}

TEST_F(WorldPassTest, TwoCopiesInOneFrameShareTheCorrectionAndShiftOnce) {
  setWorldMatrices(record, {0, 0}, {0, 0});
  visit(1, 0.0, 0.0);
  setWorldMatrices(record, {0, 1}, {0, 0});
  WorldCorrection first, second;
  ASSERT_TRUE(visit(2, 0.01, 0.0333, &first));
  ASSERT_TRUE(visit(2, 0.01, 0.0333, &second));
  EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
  // Next frame: the previous slot goes onto frame 2's presented matrix (x = 0.01/0.0333).
  WorldCorrection third, fourth;
  ASSERT_TRUE(visit(3, 0.02, 0.0333, &third));
  ASSERT_TRUE(visit(3, 0.02, 0.0333, &fourth));
  EXPECT_EQ(std::memcmp(&third, &fourth, sizeof third), 0);
  const Matrix4x4 previous = readMatrix(record, kModelPreviousWorldOffset);
  EXPECT_NEAR(product(third.previousForward, previous).m[3], 0.01 / 0.0333, 1e-4);
  EXPECT_NEAR(presentedX(third, record), 0.02 / 0.0333, 1e-4);
  // A skipped frame breaks the link: the previous slot goes onto this frame's matrix.
  WorldCorrection fifth;
  ASSERT_TRUE(visit(5, 0.03, 0.0333, &fifth));
  EXPECT_NEAR(product(fifth.previousForward, previous).m[3], 0.03 / 0.0333, 1e-4);
}

TEST_F(WorldPassTest, NonRigidModelIsFollowedInItsOwnTable) {
  Matrix4x4 sheared = placementMatrix({0, 1, 2, 3});
  sheared.m[1] = 0.5f;
  writeMatrix(record, kModelCurrentWorldOffset, sheared);
  writeMatrix(record, kModelPreviousWorldOffset, placementMatrix({0, 1, 2, 3}));
  const uint64_t nonRigid = read(counters.world.rejectedNonRigid);
  const uint64_t current = read(counters.world.nonRigidCurrent);
  const uint64_t previous = read(counters.world.nonRigidPrevious);
  EXPECT_FALSE(visit(1, 0.0, 0.0));
  EXPECT_EQ(read(counters.world.rejectedNonRigid), nonRigid + 1);
  EXPECT_EQ(read(counters.world.nonRigidCurrent), current + 1);
  EXPECT_EQ(read(counters.world.nonRigidPrevious), previous);

  auto nonRigidTrack = [&] {
    ExclusiveGuard guard(nonRigidTrackLock);
    NonRigidTrack* t = findNonRigidTrack(record, readOwner(), 0, false);
    return t != nullptr ? *t : NonRigidTrack{};
  };
  NonRigidTrack t = nonRigidTrack();
  ASSERT_NE(t.model, nullptr);
  EXPECT_EQ(t.changeCount, 0u);
  EXPECT_FALSE(t.currentRigid);
  EXPECT_TRUE(t.previousRigid);

  // A later sample within 1e-4 of every element is no change; beyond it is.
  sheared.m[3] += 5e-5f;
  writeMatrix(record, kModelCurrentWorldOffset, sheared);
  visit(2, 0.04, 0.0333);
  EXPECT_EQ(nonRigidTrack().changeCount, 0u);
  sheared.m[7] += 1e-3f;
  writeMatrix(record, kModelCurrentWorldOffset, sheared);
  visit(3, 0.05, 0.0333);
  EXPECT_EQ(nonRigidTrack().changeCount, 0u) << "same sample time";
  visit(4, 0.08, 0.0666);
  t = nonRigidTrack();
  EXPECT_EQ(t.changeCount, 1u);
  EXPECT_EQ(t.firstChangeSerial, 4u);
  EXPECT_EQ(t.lastSeenSerial, 4u);
}

TEST_F(WorldPassTest, TurnAndScaleJumpLimitsHoldAtTheLimitAndRefuseJustPast) {
  struct Case {
    Placement from, to;
    bool accepted;
  };
  const double past = std::nextafter(11.0f, 12.0f);  // 11 / 10 is 1.1 exactly in double
  const Case cases[] = {
      {{0}, {90}, true},
      {{0}, {90.001}, false},
      {{0, 0, 0, 0, 10}, {0, 0, 0, 0, 11}, true},
      {{0, 0, 0, 0, 10}, {0, 0, 0, 0, past}, false},
      {{0, 0, 0, 0, 11}, {0, 0, 0, 0, 10}, true},
      {{0, 0, 0, 0, past}, {0, 0, 0, 0, 10}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    resetWorldTracksForTests();
    const uint64_t jumps = read(counters.world.rejectedJump);
    setWorldMatrices(record, c.from, c.from);
    visit(1, 0.0, 0.0);
    setWorldMatrices(record, c.to, c.from);
    EXPECT_EQ(visit(2, 0.02, 0.0333), c.accepted);
    EXPECT_EQ(read(counters.world.rejectedJump), jumps + (c.accepted ? 0 : 1));
  }
}

TEST_F(WorldPassTest, AnotherClassOrAssetAtTheSameAddressIsANewTrack) {
  settings.worldSkeletons = 1;
  for (const bool classChanges : {true, false}) {
    SCOPED_TRACE(classChanges ? "class" : "asset");
    record = newSkinnedRecord(9, 16, newOwner());
    setWorldMatrices(record, {0, 0}, {0, 0});
    visit(1, 0.0, 0.0);
    const uint64_t id = track().id, tracks = read(counters.world.tracks);
    const void* replacement = classChanges ? testStaticModelClass() : allocateHostBytes(64);
    std::memcpy(record + (classChanges ? 0 : kModelAssetOffset), &replacement, 8);
    setWorldMatrices(record, {0, 1}, {0, 0});
    EXPECT_FALSE(visit(2, 0.04, 0.0333)) << "nothing is interpolated across the change";
    EXPECT_GT(track().id, id);
    EXPECT_EQ(read(counters.world.tracks), tracks + 1);
    setWorldMatrices(record, {0, 2}, {0, 1});
    EXPECT_TRUE(visit(3, 0.07, 0.0666));
  }
}

TEST(TransformsDiffer, ComparesPlacementsWithinTolerances) {
  useModelHost();
  const Matrix4x4 a = placementMatrix({10, 1, 2, 3});
  EXPECT_FALSE(transformsDiffer(a, a, 1e-4, 0.001, 1e-4));
  EXPECT_TRUE(transformsDiffer(a, placementMatrix({10, 1.001, 2, 3}), 1e-4, 0.001, 1e-4));
  EXPECT_TRUE(transformsDiffer(a, placementMatrix({10.01, 1, 2, 3}), 1e-4, 0.001, 1e-4));
  EXPECT_TRUE(transformsDiffer(a, placementMatrix({10, 1, 2, 3, 1.01}), 1e-4, 0.001, 1e-4));
  EXPECT_TRUE(transformsDiffer(a, placementMatrix({10, 1, 2, 3, 1, true}), 1e-4, 0.001, 1e-4));
  Matrix4x4 sheared = a;
  sheared.m[1] += 0.3f;
  EXPECT_TRUE(transformsDiffer(a, sheared, 1e-4, 0.001, 1e-4));
  EXPECT_FALSE(transformsDiffer(a, placementMatrix({10, 1.5, 2, 3}), 1.0, 0.001, 1e-4));
}

}  // namespace
