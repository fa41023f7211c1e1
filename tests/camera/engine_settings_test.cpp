// The frame cap and mouse-sensitivity settling, through UpdateCamera as the
// view-copy hook runs it every frame.
#include <gtest/gtest.h>

#include "bootstrap/host_interface.h"
#include "bootstrap/settings.h"
#include "camera/update_camera.h"
#include "tests/support/camera_fixture.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;

namespace {

const char kFrameCapAppliedLine[] = "Applied com_disableFrameSpinning=1; the external/driver limiter now controls FPS.";
const char kFrameCapDeclinedLine[] = "UnlockAbove120 was not applied because Triple Buffering is enabled.";
const char kMouseStableLine[] = "Mouse sensitivity is already stable: g_fixMouseSensibility=0.";
const char kMouseAppliedLine[] = "Stabilized mouse sensitivity by applying g_fixMouseSensibility=0.";

class EngineSettingsTest : public CameraHostTest {
 protected:
  void SetUp() override {
    CameraHostTest::SetUp();
    spinning() = 0;
    tripleBuffering() = 0;
    mouse() = 1;
  }
  int32_t& spinning() { return hostConsoleValue(kDisableFrameSpinningRva); }
  int32_t& tripleBuffering() { return hostConsoleValue(kTripleBufferingRva); }
  int32_t& mouse() { return hostConsoleValue(kFixMouseSensibilityRva); }
  void frames(int count) {
    for (int i = 0; i < count; ++i) UpdateCamera(destination.bytes, source.bytes);
  }
  using Lines = std::vector<std::string>;
};

TEST_F(EngineSettingsTest, FrameCapIsLiftedOnceWithoutTripleBuffering) {
  settings.unlockAbove120 = 1;
  frames(3);
  EXPECT_EQ(spinning(), 1);
  EXPECT_EQ(frameCapState.load(), kFrameCapApplied);
  spinning() = 0;  // the host changing it back is no longer looked at
  frames(2);
  EXPECT_EQ(spinning(), 0);
  EXPECT_EQ(logLines(), Lines{kFrameCapAppliedLine});
}

TEST_F(EngineSettingsTest, FrameCapAlreadyLiftedIsStillClaimedOnce) {
  settings.unlockAbove120 = 1;
  spinning() = 1;
  frames(2);
  EXPECT_EQ(spinning(), 1);
  EXPECT_EQ(frameCapState.load(), kFrameCapApplied);
  EXPECT_EQ(logLines(), Lines{kFrameCapAppliedLine});
}

TEST_F(EngineSettingsTest, FrameCapIsDeclinedWithTripleBuffering) {
  settings.unlockAbove120 = 1;
  tripleBuffering() = 1;
  frames(2);
  EXPECT_EQ(spinning(), 0);
  EXPECT_EQ(frameCapState.load(), kFrameCapDeclined);
  tripleBuffering() = 0;
  frames(1);
  EXPECT_EQ(spinning(), 0);
  EXPECT_EQ(logLines(), Lines{kFrameCapDeclinedLine});
}

TEST_F(EngineSettingsTest, UnknownFrameCapValuesWaitForALateValue) {
  settings.unlockAbove120 = 1;
  spinning() = 2;
  frames(3);
  EXPECT_EQ(spinning(), 2);
  EXPECT_EQ(frameCapState.load(), kFrameCapPending);
  spinning() = -1;  // above 1 when compared unsigned
  frames(1);
  EXPECT_EQ(spinning(), -1);
  spinning() = 0;
  tripleBuffering() = 5;  // neither off nor on
  frames(2);
  EXPECT_EQ(spinning(), 0);
  EXPECT_EQ(frameCapState.load(), kFrameCapPending);
  EXPECT_TRUE(logLines().empty());
  tripleBuffering() = 0;  // set late by the host
  frames(1);
  EXPECT_EQ(spinning(), 1);
  EXPECT_EQ(logLines(), Lines{kFrameCapAppliedLine});
}

TEST_F(EngineSettingsTest, NothingHappensWithTheSwitchesOff) {
  spinning() = 0;
  mouse() = 1;
  frames(2);
  EXPECT_EQ(spinning(), 0);
  EXPECT_EQ(mouse(), 1);
  EXPECT_EQ(frameCapState.load(), kFrameCapPending);
  EXPECT_EQ(mouseState.load(), kMousePending);
  EXPECT_TRUE(logLines().empty());
}

TEST_F(EngineSettingsTest, MouseSensitivityIsStabilisedOnce) {
  settings.stabilizeMouseSensitivity = 1;
  mouse() = 1;
  frames(2);
  EXPECT_EQ(mouse(), 0);
  EXPECT_EQ(mouseState.load(), kMouseApplied);
  mouse() = 1;
  frames(1);
  EXPECT_EQ(mouse(), 1);
  EXPECT_EQ(logLines(), Lines{kMouseAppliedLine});
}

TEST_F(EngineSettingsTest, MouseSensitivityAlreadyStableIsOnlyReported) {
  settings.stabilizeMouseSensitivity = 1;
  mouse() = 0;
  frames(2);
  EXPECT_EQ(mouse(), 0);
  EXPECT_EQ(mouseState.load(), kMouseAlreadyStable);
  mouse() = 1;
  frames(1);
  EXPECT_EQ(mouse(), 1);
  EXPECT_EQ(logLines(), Lines{kMouseStableLine});
}

TEST_F(EngineSettingsTest, MouseValueTwoIsRetriedEveryFrameUntilItSettles) {
  settings.stabilizeMouseSensitivity = 1;
  mouse() = 2;
  frames(5);
  EXPECT_EQ(mouse(), 2);
  EXPECT_EQ(mouseState.load(), kMousePending);
  EXPECT_TRUE(logLines().empty());
  mouse() = 1;
  frames(1);
  EXPECT_EQ(mouse(), 0);
  EXPECT_EQ(logLines(), Lines{kMouseAppliedLine});
}

TEST_F(EngineSettingsTest, BothSettleInTheirOwnOrderOnTheSameFrame) {
  settings.unlockAbove120 = 1;
  settings.stabilizeMouseSensitivity = 1;
  frames(1);
  EXPECT_EQ(logLines(), (Lines{kFrameCapAppliedLine, kMouseAppliedLine}));
}

TEST_F(EngineSettingsTest, SettingsSettleWhetherOrNotTheCameraIsOn) {
  settings.unlockAbove120 = 1;
  cameraEnabled = false;
  frames(1);
  EXPECT_EQ(spinning(), 1);
}

}  // namespace
