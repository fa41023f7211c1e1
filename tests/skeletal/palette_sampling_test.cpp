// Sampling palettes into tracks, forming pairs, and the blended palette that
// the host receives.
#include "tests/skeletal/skeletal_fixture.h"

namespace {

std::vector<Matrix3x4> snapshot(const Matrix3x4* palette, uint32_t count) {
  return std::vector<Matrix3x4>(palette, palette + count);
}

class PaletteSamplingTest : public SkeletalTest {
 protected:
  // A world model with `joints` joints padded to a multiple of 8.
  uint8_t* worldModel(uint32_t joints, Matrix3x4** palette) {
    SkinnedRecordShape shape;
    shape.joints = joints;
    shape.padded = (joints + 7) & ~7u;
    return newSkinnedRecord(shape, palette);
  }

  // A world model whose first sample, the pose of phase 0, is taken at `time`.
  uint8_t* sampledWorldModel(uint32_t joints, double time, Matrix3x4** palette) {
    uint8_t* record = worldModel(joints, palette);
    writePose(*palette, joints, 0.0);
    frame(time, time);
    callHook(record);
    return record;
  }
};

TEST_F(PaletteSamplingTest, HostReceivesTheBlendOfTheLastTwoSamplesAtEveryFrame) {
  Matrix3x4* host;
  uint8_t* record = worldModel(37, &host);
  writePose(host, 40, 0.0);
  const auto a = snapshot(host, 40);
  frame(1.005, 1.00);
  EXPECT_FALSE(callHook(record).substituted);  // a first sample has no pair

  writePose(host, 40, 20.0);
  const auto b = snapshot(host, 40);
  const uint64_t pairs = read(sk().pairs);
  frame(1.025, 1.02);
  ASSERT_TRUE(callHook(record).substituted);
  EXPECT_EQ(read(sk().pairs), pairs + 1);
  expectReceivedBlend(a, b, host, 37, 40, 1.25L);

  // Between simulation steps the same pair is blended with a growing factor.
  frame(1.03, 1.02);
  ASSERT_TRUE(callHook(record).substituted);
  expectReceivedBlend(a, b, host, 37, 40, 1.5L);

  // The next distinct pose becomes the current one of the pair.
  writePose(host, 40, 35.0);
  const auto c = snapshot(host, 40);
  frame(1.041, 1.04);
  ASSERT_TRUE(callHook(record).substituted);
  expectReceivedBlend(b, c, host, 37, 40, 1.05L);
}

TEST_F(PaletteSamplingTest, PairTwoHundredthsApartBlendsHalfwayAtOneHundredthAfterThePrevious) {
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(8, 2.0, &host);
  const auto a = snapshot(host, 8);
  writePose(host, 8, 3.0);  // small motion: the near-parallel branch of the blend
  const auto b = snapshot(host, 8);
  frame(2.01, 2.02);
  Matrix3x4 out[256] = {};
  PaletteUpload upload{};
  ASSERT_TRUE(preparePalette(record, out, &upload));
  EXPECT_NEAR(upload.alpha, 0.5, 1e-9);
  EXPECT_EQ(upload.model, record);
  EXPECT_EQ(upload.ownerKey, recordOwner(record));
  EXPECT_EQ(upload.presentationSerial, latestPresentationSerial.load());
  EXPECT_EQ(upload.hash, digestMatrix3x4Array(out, 8));
  EXPECT_FALSE(upload.firstPerson);
  EXPECT_FALSE(upload.cinematic);
  for (int j = 0; j < 8; ++j) {
    const Matrix3x4 expected = ref::blend(a[j], b[j], 0.5L);
    for (int e = 0; e < 12; ++e) ASSERT_NEAR(out[j].m[e], expected.m[e], 2e-5);
  }
}

TEST_F(PaletteSamplingTest, BlendFactorIsClampedToTwoAndMinusAQuarter) {
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(16, 3.0, &host);
  const auto a = snapshot(host, 16);
  writePose(host, 16, 10.0);
  const auto b = snapshot(host, 16);

  frame(3.06, 3.02);  // computed factor 3.0
  ASSERT_TRUE(callHook(record).substituted);
  expectReceivedBlend(a, b, host, 16, 16, 2.0L);

  frame(2.98, 3.02);  // computed factor -1.0
  Matrix3x4 out[256];
  PaletteUpload upload{};
  ASSERT_TRUE(preparePalette(record, out, &upload));
  EXPECT_EQ(upload.alpha, -0.25);
  ASSERT_TRUE(callHook(record).substituted);
  expectReceivedBlend(a, b, host, 16, 16, -0.25L);
}

// How the second sample differs from the first, and whether it must start the
// track over instead of forming a pair.
struct SecondSample {
  const char* name;
  double time;         // the first sample is at 2.0
  double phase;        // the first pose has phase 0
  double extraTravel;  // added to joint 3's x translation
  double extraTurn;    // degrees added to joint 3's turn about z
  Counter SkeletalCounters::*counter;
  bool restarts;
};

class SecondSampleTest : public PaletteSamplingTest, public ::testing::WithParamInterface<SecondSample> {};

TEST_P(SecondSampleTest, RestartsOrPairsAndTheNextSamplePairsWithIt) {
  const SecondSample p = GetParam();
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(12, 2.0, &host);

  writePose(host, 12, p.phase);
  host[3].m[3] += float(p.extraTravel);
  if (p.extraTurn != 0.0) {
    const Matrix3x4 turned = rigidJoint(0, 0, 1, p.extraTurn, 0, 0, 0);
    Matrix3x4 joint = host[3];
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 3; ++col) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) sum += double(turned.m[4 * r + k]) * joint.m[4 * k + col];
        host[3].m[4 * r + col] = float(sum);
      }
  }
  const auto second = snapshot(host, 12);
  const uint64_t before = read(sk().*p.counter);
  const uint64_t pairs = read(sk().pairs);
  frame(p.time + 0.001, p.time);
  const HookOutcome outcome = callHook(record);
  EXPECT_EQ(outcome.substituted, !p.restarts);
  EXPECT_EQ(read(sk().*p.counter), before + (p.restarts ? 1 : 0));
  EXPECT_EQ(read(sk().pairs), pairs + (p.restarts ? 0 : 1));

  // Whatever happened, the second palette is now the reference of the track.
  writePose(host, 12, p.phase + 5.0);
  host[3] = second[3];
  const auto third = snapshot(host, 12);
  frame(p.time + 0.03, p.time + 0.02);
  ASSERT_TRUE(callHook(record).substituted);
  expectReceivedBlend(second, third, host, 12, 16, 1.5L);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SecondSampleTest,
    ::testing::Values(SecondSample{"clockBack", 1.9, 10.0, 0, 0, &SkeletalCounters::discontinuity, true},
                      SecondSample{"sameTime", 2.0, 10.0, 0, 0, &SkeletalCounters::rejectedSameTime, true},
                      SecondSample{"gap006", 2.06, 10.0, 0, 0, &SkeletalCounters::discontinuity, true},
                      // 2.05 - 2.0 rounds just below 0.05: the largest gap that still pairs.
                      SecondSample{"gap005", 2.05, 10.0, 0, 0, &SkeletalCounters::discontinuity, false},
                      SecondSample{"moved17", 2.02, 0.0, 17.0, 0, &SkeletalCounters::discontinuity, true},
                      SecondSample{"moved15", 2.02, 0.0, 15.0, 0, &SkeletalCounters::discontinuity, false},
                      SecondSample{"turned95", 2.02, 0.0, 0, 95.0, &SkeletalCounters::discontinuity, true},
                      SecondSample{"turned85", 2.02, 0.0, 0, 85.0, &SkeletalCounters::discontinuity, false},
                      // Within a ten-thousandth of a degree of the limit.
                      SecondSample{"turned90up", 2.02, 0.0, 0, 90.00005, &SkeletalCounters::discontinuity, true},
                      SecondSample{"turned90down", 2.02, 0.0, 0, 89.99995, &SkeletalCounters::discontinuity, false}),
    [](const ::testing::TestParamInfo<SecondSample>& info) { return std::string(info.param.name); });

TEST_F(PaletteSamplingTest, NonRigidSampleDropsTheReferenceAndIsRecorded) {
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(8, 1.0, &host);
  writePose(host, 8, 10.0);
  host[5].m[0] *= 2.0f;  // a stretched joint
  const uint64_t nonRigid = read(sk().palettesNonRigid);
  frame(1.02, 1.02);
  EXPECT_FALSE(callHook(record).substituted);
  EXPECT_EQ(read(sk().palettesNonRigid), nonRigid + 1);
  SkeletalTrack* track = trackOf(record, recordOwner(record));
  ASSERT_NE(track, nullptr);
  EXPECT_FALSE(track->rigid);
  EXPECT_FALSE(track->hasReference);
  EXPECT_EQ(track->nonRigidJoint, 5u);
  const double x = host[5].m[0], y = host[5].m[1], z = host[5].m[2];
  EXPECT_DOUBLE_EQ(track->rowLength[0], std::sqrt(x * x + y * y + z * z));
  EXPECT_GT(track->rowLength[0], 1.1);
  // The next rigid sample is a new reference only; the one after forms a pair.
  writePose(host, 8, 12.0);
  frame(1.04, 1.04);
  EXPECT_FALSE(callHook(record).substituted);
  writePose(host, 8, 14.0);
  frame(1.06, 1.06);
  EXPECT_TRUE(callHook(record).substituted);
  EXPECT_EQ(trackOf(record, recordOwner(record))->nonRigidJoint, 5u);  // kept while later palettes are rigid
}

TEST_F(PaletteSamplingTest, OneSubstitutedUploadPerTrackAndPresentedFrame) {
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(8, 1.0, &host);
  writePose(host, 8, 10.0);
  const uint64_t prepared = read(sk().uploadPrepared), framesCount = read(sk().uploadFrames);
  const uint64_t changed = read(sk().uploadChanged), repeated = read(sk().uploadRepeated);
  const uint64_t gap1 = read(sk().uploadGap1), gapMore = read(sk().uploadGapMore);
  const uint64_t bucket3 = read(sk().uploadAlpha[3]);
  frame(1.025, 1.02);
  EXPECT_TRUE(callHook(record).substituted);
  EXPECT_FALSE(callHook(record).substituted);  // same serial: the host's own palette
  EXPECT_EQ(read(sk().uploadPrepared), prepared + 1);
  // The first substituted upload of a track: a frame and an alpha bucket only.
  EXPECT_EQ(read(sk().uploadFrames), framesCount + 1);
  EXPECT_EQ(read(sk().uploadAlpha[3]), bucket3 + 1);
  EXPECT_EQ(read(sk().uploadChanged) + read(sk().uploadRepeated), changed + repeated);
  EXPECT_EQ(read(sk().uploadGap1) + read(sk().uploadGapMore), gap1 + gapMore);

  frame(1.026, 1.02);
  EXPECT_TRUE(callHook(record).substituted);
  EXPECT_EQ(read(sk().uploadChanged), changed + 1);  // a larger factor, another palette
  EXPECT_EQ(read(sk().uploadGap1), gap1 + 1);
  frame(1.027, 1.02);
  frame(1.028, 1.02);
  frame(1.029, 1.02);
  EXPECT_TRUE(callHook(record).substituted);
  EXPECT_EQ(read(sk().uploadGapMore), gapMore + 1);
  EXPECT_EQ(trackOf(record, recordOwner(record))->interpolated, 3u);
}

TEST_F(PaletteSamplingTest, TwoPreparationsBeforeEitherUploadIsRecordedCountOneSameFrame) {
  Matrix3x4* host;
  uint8_t* record = sampledWorldModel(8, 1.0, &host);
  writePose(host, 8, 10.0);
  frame(1.01, 1.02);
  Matrix3x4 out[256];
  PaletteUpload first{}, second{};
  ASSERT_TRUE(preparePalette(record, out, &first));
  ASSERT_TRUE(preparePalette(record, out, &second));
  const uint64_t sameFrame = read(sk().uploadSameFrame), adjusted = read(sk().uploadAdjusted);
  recordUpload(first);
  recordUpload(second);
  EXPECT_EQ(read(sk().uploadSameFrame), sameFrame + 1);
  EXPECT_EQ(read(sk().uploadAdjusted), adjusted + 2);
  EXPECT_FALSE(preparePalette(record, out, &second));
}

TEST_F(PaletteSamplingTest, ModelChangingScopeOrShapeStartsItsTrackOver) {
  Matrix3x4* host;
  SkinnedRecordShape shape;
  shape.depth = 0.5f;
  uint8_t* record = newSkinnedRecord(shape, &host);
  writePose(host, 8, 0.0);
  frame(1.0, 1.0);
  callHook(record);
  const SkeletalTrack* track = trackOf(record, recordOwner(record));
  ASSERT_NE(track, nullptr);
  EXPECT_TRUE(track->firstPerson);
  EXPECT_EQ(track->nonRigidJoint, kNoNonRigidJoint);
  const uint64_t firstId = track->id;
  const uint64_t tracks = read(sk().tracks);

  frame(1.01, 1.0);  // same pose, same scope: same track
  callHook(record);
  EXPECT_EQ(trackOf(record, recordOwner(record))->id, firstId);

  setRecordDepth(record, 0.0f);  // now drawn as a world model
  frame(1.02, 1.02);
  callHook(record);
  track = trackOf(record, recordOwner(record));
  EXPECT_GT(track->id, firstId);
  EXPECT_FALSE(track->firstPerson);
  EXPECT_EQ(track->samples, 1u);
  EXPECT_EQ(track->firstSerial, latestPresentationSerial.load());
  EXPECT_EQ(read(sk().tracks), tracks + 1);

  const uint64_t worldId = track->id;
  Matrix3x4* moved = static_cast<Matrix3x4*>(hostAllocate(256 * sizeof(Matrix3x4)));
  writePose(moved, 8, 0.0);
  setRecordPalette(record, moved);  // another palette address
  frame(1.03, 1.04);
  callHook(record);
  track = trackOf(record, recordOwner(record));
  EXPECT_GT(track->id, worldId);
  EXPECT_EQ(track->samples, 1u);
  EXPECT_EQ(track->changes, 0u);
  EXPECT_EQ(track->palette, moved);

  // Another joint count (the padded count kept, then changed too) or another
  // asset starts it over as well; an upload prepared before is then not its own.
  writePose(moved, 16, 10.0);
  frame(1.05, 1.06);
  Matrix3x4 out[256];
  PaletteUpload stale{};
  ASSERT_TRUE(preparePalette(record, out, &stale));
  auto startsOver = [&](double t) {
    const uint64_t id = trackOf(record, recordOwner(record))->id;
    frame(t, t);
    callHook(record);
    EXPECT_GT(trackOf(record, recordOwner(record))->id, id) << t;
  };
  uint32_t joints = 7, padded = 16;
  std::memcpy(record + kModelJointsOffset, &joints, 4);
  startsOver(1.08);
  joints = 9;
  std::memcpy(record + kModelJointsOffset, &joints, 4);
  std::memcpy(record + kModelPaddedJointsOffset, &padded, 4);
  startsOver(1.10);
  const void* asset = hostAllocate(64);
  std::memcpy(record + kModelAssetOffset, &asset, 8);
  startsOver(1.12);
  const uint64_t uploadFrames = read(sk().uploadFrames);
  recordUpload(stale);
  EXPECT_EQ(trackOf(record, recordOwner(record))->interpolated, 0u);
  EXPECT_EQ(read(sk().uploadFrames), uploadFrames);
}

TEST_F(PaletteSamplingTest, DepthDecidesScopeOrRefusal) {
  Matrix3x4* host;
  SkinnedRecordShape shape;
  shape.depth = 0.5f;
  uint8_t* record = newSkinnedRecord(shape, &host);
  frame(1.0, 1.0);
  settings.firstPersonSkeletons = 0;
  const uint64_t disabled = read(sk().rejectedFirstPersonDisabled), hack = read(sk().rejectedDepthHack);
  EXPECT_FALSE(callHook(record).substituted);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(read(sk().rejectedFirstPersonDisabled), disabled + 1);
  for (float depth : {-3.0f, 150.0f, 100.0f, -2e-6f}) {
    setRecordDepth(record, depth);
    callHook(record);
  }
  EXPECT_EQ(read(sk().rejectedDepthHack), hack + 4);
  EXPECT_EQ(read(sk().rejectedFirstPersonDisabled), disabled + 1);

  const uint64_t world = read(sk().eligibleWorld);
  setRecordDepth(record, -1e-6f);  // world depth, tolerance included
  callHook(record);
  EXPECT_EQ(read(sk().eligibleWorld), world + 1);
  settings.worldSkeletons = 0;  // refused without a counter
  const uint64_t eligible = read(sk().eligibleWorld) + read(sk().eligibleFirstPerson);
  callHook(record);
  EXPECT_EQ(read(sk().eligibleWorld) + read(sk().eligibleFirstPerson), eligible);
  // A depth inside both tests is a world depth too: refused with world skeletons off.
  settings.firstPersonSkeletons = 1;
  setRecordDepth(record, 5e-7f);
  callHook(record);
  EXPECT_EQ(read(sk().eligibleWorld) + read(sk().eligibleFirstPerson), eligible);
}

TEST_F(PaletteSamplingTest, SkinnedLayoutMustHoldPaddedJointCounts) {
  struct Layout {
    uint32_t joints, padded;
    bool accepted;
  };
  frame(1.0, 1.0);
  for (const Layout& l : {Layout{30, 32, true}, Layout{30, 30, false}, Layout{30, 40, false}, Layout{257, 264, false},
                          Layout{256, 256, true}, Layout{0, 0, false}}) {
    SkinnedRecordShape shape;
    shape.joints = l.joints;
    shape.padded = l.padded;
    uint8_t* record = newSkinnedRecord(shape, nullptr);
    const uint64_t layout = read(sk().rejectedLayout), eligible = read(sk().eligibleWorld);
    callHook(record);
    EXPECT_EQ(read(sk().rejectedLayout), layout + (l.accepted ? 0 : 1)) << l.joints << "/" << l.padded;
    EXPECT_EQ(read(sk().eligibleWorld), eligible + (l.accepted ? 1 : 0)) << l.joints << "/" << l.padded;
  }
  // Unreadable palette and asset; a record of another class passes uncounted.
  SkinnedRecordShape shape;
  uint8_t* record = newSkinnedRecord(shape, nullptr);
  setRecordPalette(record, static_cast<const Matrix3x4*>(unreadableAddress()));
  const uint64_t layout = read(sk().rejectedLayout), exact = read(sk().exactSkinned);
  setRecordPending(record, 0);  // the host declines without reading the palette
  clearUploadLog();
  EXPECT_EQ(PoseUploadHook(record, 7), 0u);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(read(sk().rejectedLayout), layout + 1);
  shape.asset = unreadableAddress();
  uint8_t* noAsset = newSkinnedRecord(shape, nullptr);
  callHook(noAsset);
  EXPECT_EQ(read(sk().rejectedLayout), layout + 2);
  // A palette pointer off float alignment is refused, not read.
  Matrix3x4* palette = nullptr;
  uint8_t* misaligned = newSkinnedRecord(SkinnedRecordShape{}, &palette);
  setRecordPalette(misaligned, reinterpret_cast<const Matrix3x4*>(reinterpret_cast<uint8_t*>(palette) + 2));
  setRecordPending(misaligned, 0);
  clearUploadLog();
  EXPECT_EQ(PoseUploadHook(misaligned, 7), 0u);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(read(sk().rejectedLayout), layout + 3);
  uint8_t* other = newSkinnedRecord(SkinnedRecordShape{}, nullptr);
  const void* staticClass = hostBase + kStaticModelClassRva;
  std::memcpy(other, &staticClass, sizeof staticClass);
  callHook(other);
  EXPECT_EQ(read(sk().rejectedLayout), layout + 3);
  EXPECT_EQ(read(sk().exactSkinned), exact + 3);
}

TEST_F(PaletteSamplingTest, ModelsWithoutReadableOwner) {
  SkinnedRecordShape shape;
  shape.owner = unreadableAddress();
  shape.joints = 64;
  shape.padded = 64;
  uint8_t* cinematic = newSkinnedRecord(shape, nullptr);
  shape.depth = 0.5f;
  uint8_t* hands = newSkinnedRecord(shape, nullptr);
  shape.depth = 0.0f;
  shape.joints = 65;
  shape.padded = 72;
  uint8_t* ownerless = newSkinnedRecord(shape, nullptr);
  frame(1.0, 1.0);

  const uint64_t cinematicEligible = read(sk().cinematicEligible), fallback = read(sk().ownerFallbackFirstPerson);
  const uint64_t owner = read(sk().rejectedOwner), world = read(sk().eligibleWorld);
  callHook(cinematic);
  callHook(hands);
  EXPECT_EQ(read(sk().cinematicEligible), cinematicEligible + 1);
  EXPECT_EQ(read(sk().ownerFallbackFirstPerson), fallback + 1);
  EXPECT_EQ(read(sk().eligibleWorld), world);
  ASSERT_NE(trackOf(cinematic, recordAsset(cinematic)), nullptr);
  EXPECT_TRUE(trackOf(cinematic, recordAsset(cinematic))->cinematic);
  EXPECT_TRUE(trackOf(hands, recordAsset(hands))->firstPerson);

  callHook(ownerless);
  EXPECT_EQ(read(sk().rejectedOwner), owner + 1);
  {
    ExclusiveGuard guard(skeletalTableLock);
    const OwnerlessTrack* track = findOwnerlessTrack(ownerless, recordAsset(ownerless), 0, false);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->joints, 65u);
    EXPECT_EQ(track->padded, 72u);
    EXPECT_EQ(track->samples, 1u);
    EXPECT_EQ(track->pending, 1);
  }
  settings.cinematicSkeletons = 0;
  callHook(cinematic);
  EXPECT_EQ(read(sk().rejectedOwner), owner + 2);
}

}  // namespace
