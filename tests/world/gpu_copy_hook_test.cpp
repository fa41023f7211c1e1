// The GPU-parameter hook: gate, probes, the private record copy, both paths,
// the out-slot fix-up and the once-only lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/frame_state.h"
#include "diagnostics/counters.h"
#include "patch/hooks.h"
#include "shadow/publication.h"
#include "tests/support/library_dir.h"
#include "tests/support/model_host.h"
#include "world/test_seam.h"
#include "world/world_tracks.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::patch;
using namespace corvane::shadow;
using namespace corvane::world;

namespace {

class GpuCopyHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useModelHost();
    resetTestSettings();
    resetWorldTracksForTests();
  }

  // Calls the hook as the renderer would and checks what every call must hold.
  uint64_t copy(const uint8_t* block, void** outSlot) {
    const uint64_t before = gpuCopyCalls.load();
    const uint64_t result = GpuCopyHook(outSlot, 77, 1.5f, block);
    EXPECT_EQ(gpuCopyCalls.load(), before + 1) << "the host function runs exactly once";
    EXPECT_EQ(result, gpuCopyResultFor(before + 1)) << "the host's result is returned";
    EXPECT_EQ(lastGpuCopyCall().value, 77u);
    EXPECT_EQ(lastGpuCopyCall().f, 1.5f);
    EXPECT_EQ(lastGpuCopyCall().outSlot, outSlot);
    return result;
  }

  bool substituted(const uint8_t* block) const { return lastGpuCopyCall().block != block; }

  // The first sample of a world model at rest at x=0, copied at time 0: it starts the model's track.
  void firstSample(uint8_t* record, const uint8_t* block, void** outSlot) {
    setWorldMatrices(record, {0, 0}, {0, 0});
    publishPresentationFrame(0.0, 0.0, true);
    copy(block, outSlot);
  }
};

std::vector<uint8_t> snapshot(const uint8_t* record, size_t length) { return {record, record + length}; }

// A world model that moved from x=0 to x=1 between two samples, presented past
// the second: the world pass corrects it.
struct MovingWorldModel {
  uint8_t* record = newStaticRecord();
  uint8_t* block = newModelRefBlock(record);
  void sample(double x, double previousX) { setWorldMatrices(record, {0, x}, {0, previousX}); }
};

TEST_F(GpuCopyHookTest, PassesThroughWhenEveryFeatureIsOffEvenForUnreadableBlocks) {
  void* slot = nullptr;
  const auto* unreadable = reinterpret_cast<const uint8_t*>(0x10);
  copy(unreadable, &slot);
  EXPECT_EQ(lastGpuCopyCall().block, unreadable);
  copy(nullptr, &slot);
  EXPECT_EQ(lastGpuCopyCall().block, nullptr);
}

TEST_F(GpuCopyHookTest, PassesThroughBeforeTheHookIsInstalled) {
  settings.stabilizeFirstPersonHands = 1;
  publishCameraCorrection(placementMatrix({0, 1}), placementInverse({0, 1}), true);
  uint8_t* record = newStaticRecord();
  setWorldMatrices(record, {0, 5}, {0, 5});
  setDepth(record, 50.0f);
  uint8_t* block = newModelRefBlock(record);
  void* installed = gpuCopyInstalled.exchange(nullptr);
  void* slot = nullptr;
  copy(block, &slot);
  gpuCopyInstalled.store(installed);
  EXPECT_FALSE(substituted(block));
}

TEST_F(GpuCopyHookTest, PassesThroughBadBlocksAndRecords) {
  settings.stabilizeFirstPersonHands = 1;
  settings.worldTransforms = 1;
  void* slot = nullptr;
  copy(nullptr, &slot);
  EXPECT_EQ(lastGpuCopyCall().block, nullptr);

  uint8_t* nullRecordBlock = newModelRefBlock(nullptr);
  copy(nullRecordBlock, &slot);
  EXPECT_FALSE(substituted(nullRecordBlock));

  // A record whose last bytes lie past its region.
  uint8_t* straddling = allocateBytesBeforeNoAccess(kModelRecordLength - 16);
  const void* identity = testStaticModelClass();
  std::memcpy(straddling, &identity, 8);
  uint8_t* straddlingBlock = newModelRefBlock(straddling);
  copy(straddlingBlock, &slot);
  EXPECT_FALSE(substituted(straddlingBlock));

  // A skinned identity on a record readable only for the static length.
  uint8_t* shortSkinned = allocateBytesBeforeNoAccess(kModelRecordLength);
  identity = testSkinnedModelClass();
  std::memcpy(shortSkinned, &identity, 8);
  setDepth(shortSkinned, 50.0f);
  uint8_t* shortBlock = newModelRefBlock(shortSkinned);
  copy(shortBlock, &slot);
  EXPECT_FALSE(substituted(shortBlock));
}

TEST_F(GpuCopyHookTest, FirstPersonModelFollowsTheCameraCorrectionInACopy) {
  settings.stabilizeFirstPersonHands = 1;
  const Placement previousStep{2.0, 0.1};
  const Placement currentStep{5.0, 0.3, -0.2};
  publishCameraCorrection(placementMatrix(previousStep), placementInverse(previousStep), true);
  publishCameraCorrection(placementMatrix(currentStep), placementInverse(currentStep), true);

  uint8_t* record = newStaticRecord();
  const Placement hands{10.0, 1.0, 2.0, 3.0};
  const Placement handsBefore{9.0, 0.9, 2.0, 3.0};
  setWorldMatrices(record, hands, handsBefore);
  setDepth(record, 50.0f);
  const auto before = snapshot(record, kModelRecordLength);
  uint8_t* block = newModelRefBlock(record);
  void* slot = nullptr;
  copy(block, &slot);

  ASSERT_TRUE(substituted(block));
  const GpuCopyCall& call = lastGpuCopyCall();
  EXPECT_EQ(call.blockMarker, kBlockMarker);
  EXPECT_NE(call.record, record);
  EXPECT_EQ(slot, record) << "the out-slot names the host's record, not the copy";
  EXPECT_EQ(snapshot(record, kModelRecordLength), before) << "the host's record is never written";

  const Matrix4x4 expectedCurrent = product(placementMatrix(currentStep), placementMatrix(hands));
  const Matrix4x4 expectedPrevious = product(placementMatrix(previousStep), placementMatrix(handsBefore));
  EXPECT_LT(maxDifference(readMatrix(call.recordBytes.data(), kModelCurrentWorldOffset), expectedCurrent), 1e-4f);
  EXPECT_LT(maxDifference(readMatrix(call.recordBytes.data(), kModelPreviousWorldOffset), expectedPrevious), 1e-4f);
  // Everything outside the slot groups reaches the host as the host had it.
  EXPECT_EQ(std::memcmp(call.recordBytes.data() + 0x220, record + 0x220, kModelRecordLength - 0x220), 0);
  EXPECT_EQ(std::memcmp(call.recordBytes.data(), record, 0x20), 0);
}

TEST_F(GpuCopyHookTest, FirstPersonModelUsesTheCurrentPairWhenThereIsNoPrevious) {
  settings.stabilizeFirstPersonHands = 1;
  publishCameraCorrection(identityMatrix(), identityMatrix(), false);  // the previous pair becomes invalid
  const Placement step{0.0, 0.5};
  publishCameraCorrection(placementMatrix(step), placementInverse(step), true);
  ASSERT_FALSE(copyCameraCorrection().previousValid);

  uint8_t* record = newStaticRecord();
  setWorldMatrices(record, {0, 1}, {0, 2});
  setDepth(record, 1.0f);
  void* slot = nullptr;
  uint8_t* block = newModelRefBlock(record);
  copy(block, &slot);
  ASSERT_TRUE(substituted(block));
  const auto& bytes = lastGpuCopyCall().recordBytes;
  EXPECT_LT(maxDifference(readMatrix(bytes.data(), kModelCurrentWorldOffset), placementMatrix({0, 1.5})), 1e-5f);
  EXPECT_LT(maxDifference(readMatrix(bytes.data(), kModelPreviousWorldOffset), placementMatrix({0, 2.5})), 1e-5f);
}

TEST_F(GpuCopyHookTest, FirstPersonModelWithoutValidCorrectionIsNotOfferedToTheWorldPass) {
  settings.stabilizeFirstPersonHands = 1;
  settings.worldTransforms = 1;
  publishPresentationFrame(1.0, 1.0, true);
  publishCameraCorrection(identityMatrix(), identityMatrix(), false);
  uint8_t* record = newStaticRecord();
  setWorldMatrices(record, {0, 1}, {0, 1});
  setDepth(record, 50.0f);
  uint8_t* block = newModelRefBlock(record);
  const uint64_t candidates = read(counters.world.candidates);
  void* slot = nullptr;
  copy(block, &slot);
  EXPECT_FALSE(substituted(block));
  EXPECT_EQ(read(counters.world.candidates), candidates);
}

TEST_F(GpuCopyHookTest, DepthsAtTheLimitsAreNotFirstPerson) {
  settings.stabilizeFirstPersonHands = 1;
  settings.worldTransforms = 1;
  publishPresentationFrame(1.0, 1.0, true);
  publishCameraCorrection(placementMatrix({0, 1}), placementInverse({0, 1}), true);
  for (float depth : {100.0f, 0.0f}) {
    uint8_t* record = newStaticRecord();
    setWorldMatrices(record, {0, 1}, {0, 1});
    setDepth(record, depth);
    uint8_t* block = newModelRefBlock(record);
    const uint64_t candidates = read(counters.world.candidates);
    void* slot = nullptr;
    copy(block, &slot);
    EXPECT_FALSE(substituted(block)) << depth;  // a new world track: no correction yet
    EXPECT_EQ(read(counters.world.candidates), candidates + 1) << depth;
  }
}

TEST_F(GpuCopyHookTest, FirstPersonRewriteRefusalPassesThrough) {
  settings.stabilizeFirstPersonHands = 1;
  publishCameraCorrection(placementMatrix({0, 1}), placementInverse({0, 1}), true);
  uint8_t* record = newStaticRecord();
  setWorldMatrices(record, {0, 1}, {0, 1});
  float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(record + kModelPreviousDerived2Offset + 20, &nan, 4);
  setDepth(record, 50.0f);
  uint8_t* block = newModelRefBlock(record);
  void* slot = nullptr;
  copy(block, &slot);
  EXPECT_FALSE(substituted(block));
}

TEST_F(GpuCopyHookTest, WorldModelIsSubstitutedAndPublishedOnlyWithShadowsOn) {
  settings.worldTransforms = 1;
  MovingWorldModel model;
  void* slot = nullptr;
  firstSample(model.record, model.block, &slot);
  EXPECT_FALSE(substituted(model.block));

  model.sample(1, 0);
  const auto before = snapshot(model.record, kModelRecordLength);
  publishPresentationFrame(0.02, 0.0333, true);
  const uint64_t published = read(counters.shadow.published);
  const uint64_t adjusted = read(counters.world.adjusted);
  copy(model.block, &slot);
  ASSERT_TRUE(substituted(model.block));
  EXPECT_EQ(slot, model.record);
  EXPECT_EQ(snapshot(model.record, kModelRecordLength), before);
  EXPECT_EQ(read(counters.shadow.published), published) << "ShadowTransforms is off";
  EXPECT_EQ(read(counters.world.adjusted), adjusted + 1);
  // Presented at 0.02 of samples 0 and 0.0333: x = 0.02 / 0.0333.
  const Matrix4x4 presented = readMatrix(lastGpuCopyCall().recordBytes.data(), kModelCurrentWorldOffset);
  EXPECT_NEAR(presented.m[3], 0.02 / 0.0333, 1e-4);

  settings.shadowTransforms = 1;
  model.sample(2, 1);
  publishPresentationFrame(0.05, 0.0666, true);
  copy(model.block, &slot);
  ASSERT_TRUE(substituted(model.block));
  EXPECT_EQ(read(counters.shadow.published), published + 1);
  // The publication is keyed by the host's own matrix and corrects it onto the
  // presented one.
  Matrix4x4 correction;
  ASSERT_TRUE(findShadowCorrection(model.record + kModelCurrentWorldOffset,
                                   readMatrix(model.record, kModelCurrentWorldOffset), latestPresentationSerial.load(),
                                   &correction));
  EXPECT_LT(maxDifference(product(correction, readMatrix(model.record, kModelCurrentWorldOffset)),
                          readMatrix(lastGpuCopyCall().recordBytes.data(), kModelCurrentWorldOffset)),
            1e-4f);
}

TEST_F(GpuCopyHookTest, SkinnedWorldModelsCountInAdjustedSkinned) {
  settings.worldTransforms = 1;
  settings.worldSkeletons = 1;
  uint8_t* record = newSkinnedRecord(20, 24, newOwner());
  uint8_t* block = newModelRefBlock(record);
  void* slot = nullptr;
  firstSample(record, block, &slot);
  setWorldMatrices(record, {0, 1}, {0, 0});
  publishPresentationFrame(0.02, 0.0333, true);
  const uint64_t adjusted = read(counters.world.adjusted);
  const uint64_t skinned = read(counters.world.adjustedSkinned);
  const auto before = snapshot(record, kSkinnedModelRecordLength);
  copy(block, &slot);
  ASSERT_TRUE(substituted(block));
  EXPECT_EQ(snapshot(record, kSkinnedModelRecordLength), before);
  EXPECT_EQ(
      std::memcmp(lastGpuCopyCall().recordBytes.data() + 0x220, record + 0x220, kSkinnedModelRecordLength - 0x220), 0)
      << "the whole skinned length is copied";
  EXPECT_EQ(read(counters.world.adjusted), adjusted + 1);
  EXPECT_EQ(read(counters.world.adjustedSkinned), skinned + 1);
}

TEST_F(GpuCopyHookTest, WorldPathNeedsValidFrameTimes) {
  settings.worldTransforms = 1;
  MovingWorldModel model;
  void* slot = nullptr;
  firstSample(model.record, model.block, &slot);
  model.sample(1, 0);
  publishPresentationFrame(0.02, 0.0333, false);
  const uint64_t candidates = read(counters.world.candidates);
  copy(model.block, &slot);
  EXPECT_FALSE(substituted(model.block));
  EXPECT_EQ(read(counters.world.candidates), candidates);
}

TEST_F(GpuCopyHookTest, AppliedLinesAppearOncePerPath) {
  resetGpuCopyLogFlagsForTests();
  useFreshLibraryDirectory();
  settings.stabilizeFirstPersonHands = 1;
  settings.worldTransforms = 1;
  publishCameraCorrection(placementMatrix({0, 1}), placementInverse({0, 1}), true);
  const uint64_t cameraSerial = copyCameraCorrection().cameraSerial;
  uint8_t* hands = newStaticRecord();
  setWorldMatrices(hands, {0, 1}, {0, 1});
  setDepth(hands, 50.0f);
  uint8_t* handsBlock = newModelRefBlock(hands);
  MovingWorldModel model;
  void* slot = nullptr;
  firstSample(model.record, model.block, &slot);
  uint64_t firstWorldSerial = 0;
  for (int frame = 1; frame <= 3; ++frame) {
    model.sample(frame, frame - 1);
    const PresentationFrame published = publishPresentationFrame(0.0333 * frame + 0.005, 0.0333 * frame, true);
    if (firstWorldSerial == 0) firstWorldSerial = published.presentationSerial;
    copy(model.block, &slot);
    EXPECT_TRUE(substituted(model.block));
    copy(handsBlock, &slot);
    EXPECT_TRUE(substituted(handsBlock));
  }
  const std::vector<std::string> lines = readLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "Applied experimental world-transform interpolation at the renderer GPU-parameter boundary "
            "(presentation serial " +
                std::to_string(firstWorldSerial) + ").");
  EXPECT_EQ(lines[1], "Applied first-person correction at the renderer GPU-parameter boundary (camera serial " +
                          std::to_string(cameraSerial) + ").");
}

}  // namespace
