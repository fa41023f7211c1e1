// The substitution around the host's upload call: pass-through, the forced
// retry, both calls declined, and the once-only lines.
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "patch/hooks.h"
#include "platform/platform.h"
#include "skeletal/skeletal_tracks.h"
#include "tests/skeletal/skeletal_fixture.h"

using namespace corvane::patch;

namespace {

class PoseUploadHookTest : public SkeletalTest {
 protected:
  // A model whose next hook call substitutes a blended palette.
  uint8_t* modelWithPair(float depth, const void* owner, uint32_t joints = 8) {
    Matrix3x4* host;
    SkinnedRecordShape shape;
    shape.depth = depth;
    shape.owner = owner;
    shape.joints = joints;
    shape.padded = (joints + 7) & ~7u;
    uint8_t* record = newSkinnedRecord(shape, &host);
    writePose(host, shape.padded, 0.0);
    frame(1.0, 1.0);
    callHook(record);
    writePose(host, shape.padded, 10.0);
    setRecordPending(record, 1);  // the game has a new pose to upload
    frame(1.01, 1.02);
    return record;
  }
};

TEST_F(PoseUploadHookTest, AllSwitchesOffOrNotInstalledCallsTheHostOnceUnchanged) {
  uint8_t* record = modelWithPair(0.0f, nullptr);
  const uint64_t calls = read(sk().calls);
  settings = Settings{};
  HookOutcome outcome = callHook(record, 1234);
  EXPECT_EQ(outcome.result, 1235u);
  EXPECT_FALSE(outcome.substituted);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(read(sk().calls), calls);

  settings.worldSkeletons = 1;
  setRecordPending(record, 1);
  poseUploadInstalled.store(nullptr);
  outcome = callHook(record, 99);
  poseUploadInstalled.store(reinterpret_cast<void*>(&recordingPoseUpload));
  EXPECT_EQ(outcome.result, 100u);
  EXPECT_FALSE(outcome.substituted);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(read(sk().calls), calls);
}

TEST_F(PoseUploadHookTest, RefusedPreparationLeavesTheRecordAndCallsOnce) {
  uint8_t* record = modelWithPair(-3.0f, nullptr);
  std::vector<uint8_t> before(record, record + kSkinnedModelRecordLength);
  setRecordPending(record, 0);
  before[kModelUploadPendingOffset] = 0;
  clearUploadLog();
  EXPECT_EQ(PoseUploadHook(record, 5), 0u);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(std::memcmp(before.data(), record, before.size()), 0);
}

TEST_F(PoseUploadHookTest, HostDecliningBothCallsGetsItsRecordBackAndNothingIsRecorded) {
  uint8_t* record = modelWithPair(0.0f, nullptr);
  const Matrix3x4* hostPalette = recordPalette(record);
  const uint8_t flags = recordFlags(record);
  const int8_t pending = recordPending(record);
  const uint64_t skipped = read(sk().uploadSkipped), failed = read(sk().uploadForceFailed);
  const uint64_t adjusted = read(sk().uploadAdjusted), forced = read(sk().uploadForced);
  uploadLog().declineAll = true;
  const HookOutcome outcome = callHook(record);
  uploadLog().declineAll = false;
  EXPECT_EQ(outcome.result, 0u);
  EXPECT_TRUE(outcome.substituted);
  ASSERT_EQ(uploadLog().calls, 2);
  // The retry saw the forced pending byte and flags, and the substitute palette.
  EXPECT_EQ(uploadLog().pendingSeen[1], 1);
  EXPECT_EQ(uploadLog().flagsSeen[1], flags & 0xF9);
  EXPECT_EQ(uploadLog().paletteSeen[1], uploadLog().paletteSeen[0]);
  EXPECT_EQ(recordPalette(record), hostPalette);
  EXPECT_EQ(recordFlags(record), flags);
  EXPECT_EQ(recordPending(record), pending);
  EXPECT_EQ(read(sk().uploadSkipped), skipped + 1);
  EXPECT_EQ(read(sk().uploadForceFailed), failed + 1);
  EXPECT_EQ(read(sk().uploadAdjusted), adjusted);
  EXPECT_EQ(read(sk().uploadForced), forced);
  EXPECT_EQ(trackOf(record, recordOwner(record))->interpolated, 0u);
}

struct ForcedScope {
  const char* name;
  float depth;
  bool ownerless;
  Counter SkeletalCounters::*scope;
  bool cinematic;
};

class ForcedRetryTest : public PoseUploadHookTest, public ::testing::WithParamInterface<ForcedScope> {};

TEST_P(ForcedRetryTest, UploadAcceptedOnlyOnTheRetryIsCountedInItsScope) {
  const ForcedScope p = GetParam();
  uint8_t* record = modelWithPair(p.depth, p.ownerless ? unreadableAddress() : nullptr);
  setRecordPending(record, 0);  // nothing pending: the host declines the first call
  const uint8_t flags = recordFlags(record);
  const uint64_t forced = read(sk().uploadForced), scope = read(sk().*p.scope);
  const uint64_t cinematic = read(sk().cinematicForced), adjusted = read(sk().uploadAdjusted);
  const uint64_t other =
      read(p.scope == &SkeletalCounters::scopeForcedWorld ? sk().scopeForcedFirstPerson : sk().scopeForcedWorld);
  const HookOutcome outcome = callHook(record, 70);
  EXPECT_EQ(outcome.result, 71u);
  EXPECT_TRUE(outcome.substituted);
  ASSERT_EQ(uploadLog().calls, 2);
  EXPECT_EQ(uploadLog().pendingSeen[0], 0);
  EXPECT_EQ(uploadLog().pendingSeen[1], 1);
  EXPECT_EQ(uploadLog().flagsSeen[1], flags & 0xF9);
  EXPECT_EQ(recordPending(record), 0);
  EXPECT_EQ(recordFlags(record), flags);
  EXPECT_EQ(read(sk().uploadForced), forced + 1);
  EXPECT_EQ(read(sk().*p.scope), scope + 1);
  EXPECT_EQ(read(p.scope == &SkeletalCounters::scopeForcedWorld ? sk().scopeForcedFirstPerson : sk().scopeForcedWorld),
            other);
  EXPECT_EQ(read(sk().cinematicForced), cinematic + (p.cinematic ? 1 : 0));
  EXPECT_EQ(read(sk().uploadAdjusted), adjusted + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, ForcedRetryTest,
    ::testing::Values(ForcedScope{"world", 0.0f, false, &SkeletalCounters::scopeForcedWorld, false},
                      ForcedScope{"firstPerson", 0.5f, false, &SkeletalCounters::scopeForcedFirstPerson, false},
                      ForcedScope{"cinematic", 0.0f, true, &SkeletalCounters::scopeForcedWorld, true}),
    [](const ::testing::TestParamInfo<ForcedScope>& info) { return std::string(info.param.name); });

TEST_F(PoseUploadHookTest, AcceptedFirstCallIsNotRetried) {
  uint8_t* record = modelWithPair(0.0f, nullptr);
  const uint64_t forced = read(sk().uploadForced);
  const HookOutcome outcome = callHook(record, 10);
  EXPECT_EQ(outcome.result, 11u);
  EXPECT_EQ(uploadLog().calls, 1);
  EXPECT_EQ(recordPending(record), 0);  // what the host itself wrote stays
  EXPECT_EQ(read(sk().uploadForced), forced);
}

// Two threads upload one record: the first has read the record's palette
// pointer and is paused at its probe while the second prepares and substitutes;
// then the first substitutes too, and returns after the second has.
std::atomic<int> step{0};
thread_local bool pausesAtPaletteProbe = false;
const void* pausedPalette = nullptr;
bool pausingQuery(const void* address, MemoryRegion* out) {
  if (pausesAtPaletteProbe && address == pausedPalette && step.load() == 0) {
    step = 1;
    while (step.load() < 2) {}
  }
  return defaultPlatform().queryRegion(address, out);
}
uint64_t CORVANE_HOSTCALL orderingHost(uint8_t*, uint64_t value) {
  step = value == 2 ? 2 : 3;  // the second call first, then the first
  while (step.load() < (value == 2 ? 3 : 4)) {}
  return 4;
}

TEST_F(PoseUploadHookTest, SameRecordUploadedByTwoThreadsAtOnceKeepsTheHostPointer) {
  Matrix3x4* host;
  uint8_t* record = newSkinnedRecord(SkinnedRecordShape{}, &host);
  // The palette in a mapping of its own between inaccessible pages, so that
  // its probe is a query of its own.
  auto* pages =
      static_cast<uint8_t*>(mmap(nullptr, 5 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(pages, 4096, PROT_NONE);
  mprotect(pages + 4 * 4096, 4096, PROT_NONE);
  Matrix3x4* own = reinterpret_cast<Matrix3x4*>(pages + 4096);
  std::memcpy(own, host, 256 * sizeof(Matrix3x4));
  setRecordPalette(record, own);
  writePose(own, 8, 0.0);
  frame(1.0, 1.0);
  callHook(record);
  writePose(own, 8, 10.0);
  setRecordPending(record, 1);
  frame(1.01, 1.02);
  pausedPalette = own;
  platform.queryRegion = pausingQuery;
  poseUploadTrampoline.store(orderingHost);
  std::thread first([&] {
    pausesAtPaletteProbe = true;
    PoseUploadHook(record, 1);
  });
  while (step.load() < 1) {}
  PoseUploadHook(record, 2);
  step = 4;
  first.join();
  EXPECT_EQ(recordPalette(record), own);
  resetPlatform();
  setUpSkinnedHost();
}

TEST_F(PoseUploadHookTest, PaletteRewrittenDuringTheCallNeverEntersTheTrackUnvalidated) {
  uint8_t* record = modelWithPair(0.0f, nullptr);
  Matrix3x4* host = recordPalette(record);
  writePose(host, 8, 20.0);
  frame(1.03, 1.04);  // a new sample: the call stores the palette in the track
  lockExclusive(skeletalTableLock);
  std::thread upload([&] { PoseUploadHook(record, 1); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // to the table lock
  host[0].m[0] = std::numeric_limits<float>::quiet_NaN();
  unlockExclusive(skeletalTableLock);
  upload.join();
  const void* owner;
  std::memcpy(&owner, record + kModelOwnerOffset, sizeof owner);
  ExclusiveGuard guard(skeletalTableLock);
  const SkeletalTrack* track = findSkeletalTrack(record, owner, latestPresentationSerial.load(), false);
  ASSERT_NE(track, nullptr);
  EXPECT_TRUE(isFiniteFloat(track->currentPalette[0].m[0]) && isFiniteDouble(track->previousRotations.w[0]));
}

const char* const kFirstPersonLine =
    "Applied experimental first-person skeletal interpolation at the renderer palette-upload boundary; the "
    "hand-root correction remains independent.";

TEST_F(PoseUploadHookTest, AppliedLinesAreLoggedOnceAndOnlyTheFirstOfWorldAndCinematic) {
  uint8_t* cinematic = modelWithPair(0.0f, unreadableAddress());
  ASSERT_TRUE(callHook(cinematic).substituted);
  uint8_t* world = modelWithPair(0.0f, nullptr);
  ASSERT_TRUE(callHook(world).substituted);
  uint8_t* hands = modelWithPair(0.5f, nullptr);
  ASSERT_TRUE(callHook(hands).substituted);
  uint8_t* moreHands = modelWithPair(0.25f, nullptr);
  ASSERT_TRUE(callHook(moreHands).substituted);
  const std::vector<std::string> expected = {
      "Applied experimental cinematic skeletal interpolation at the renderer palette-upload boundary.",
      kFirstPersonLine};
  EXPECT_EQ(readLogLines(), expected);
}

TEST_F(PoseUploadHookTest, DeclinedUploadLogsNothingAndTheNextAcceptedOneDoes) {
  uint8_t* world = modelWithPair(0.0f, nullptr);
  uploadLog().declineAll = true;
  callHook(world);
  uploadLog().declineAll = false;
  EXPECT_TRUE(readLogLines().empty());
  ASSERT_TRUE(callHook(world).substituted);
  const std::vector<std::string> expected = {
      "Applied experimental world skeletal interpolation at the renderer palette-upload boundary."};
  EXPECT_EQ(readLogLines(), expected);
}

}  // namespace
