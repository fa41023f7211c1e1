// The scripted scene (60 Hz simulation presented at 144 Hz, strafing, turning
// and one cut) played through the real patched call site of the stand-in image:
// the game's caller, the relay, ViewCopyHook and the stand-in's view copy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bootstrap/settings.h"
#include "camera/test_seam.h"
#include "camera/update_camera.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "tests/standin/scene_drive.h"
#include "tests/standin/standin_clock.h"
#include "tests/support/library_dir.h"
#include "tests/support/native_standin.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::os;
using namespace corvane::patch;

namespace {

// Past the cut and far enough after it for the camera to carry again.
constexpr uint64_t kSceneFrames = 720;

std::string describe(const SceneFrameCheck& check) {
  char text[768];
  describeSceneFrame(check, text, sizeof text);
  return text;
}

class ScriptedSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useFreshLibraryDirectory();
    ASSERT_NE(useNativeStandInHost(), nullptr);
    settings = Settings{};
    resetCameraStateForTests();
  }
  void TearDown() override {
    resetPlatform();
    settings = Settings{};
  }
  SceneRun run{};
};

TEST_F(ScriptedSceneTest, PresentedViewFollowsThePathAtThePresentationTime) {
  ASSERT_TRUE(installCameraHook());
  startScene(run, kStandardScene);
  const uint64_t cutTick = kStandardScene.cutTick;
  uint64_t carried = 0, extrapolated = 0;
  for (uint64_t f = 0; f < kSceneFrames; ++f) {
    const SceneFrameCheck check = driveSceneFrame(run);
    ASSERT_TRUE(sceneFrameGood(check)) << describe(check);
    // Independently of the reference: with a single sample (the first tick,
    // or the first tick after the cut) the host's view stays; every other
    // frame holds two samples one tick apart and is carried.
    const bool singleSample = check.times.tick == 0 || check.times.tick == cutTick;
    ASSERT_EQ(check.expected.carried, !singleSample) << describe(check);
    if (singleSample) {
      EXPECT_TRUE(std::isnan(frameAlpha)) << describe(check);
      continue;
    }
    ++carried;
    // The presentation runs ahead of the latest sample by less than a tick.
    ASSERT_GE(check.expected.alpha, 1.0) << describe(check);
    ASSERT_LT(check.expected.alpha, 2.0) << describe(check);
    ASSERT_DOUBLE_EQ(frameAlpha, check.expected.alpha) << describe(check);
    extrapolated += check.expected.alpha > 1.0;
  }
  EXPECT_GT(carried, kSceneFrames * 9 / 10);
  EXPECT_GT(extrapolated, carried / 2);
}

TEST_F(ScriptedSceneTest, UnpatchedImageIsCaughtPresentingTheHostView) {
  // The same scene without Corvane: the checks must notice that nothing
  // carries the view, or they would prove nothing above.
  startScene(run, kStandardScene);
  uint64_t caught = 0, carriedFrames = 0;
  for (uint64_t f = 0; f < 40; ++f) {
    const SceneFrameCheck check = driveSceneFrame(run);
    EXPECT_TRUE(check.hostCalledOnce && check.resultReturned && check.untouchedAsExpected);
    // A presentation exactly at the latest sample shows that sample: the host view.
    if (!check.expected.carried || check.expected.alpha < 1.001) continue;
    ++carriedFrames;
    caught += !check.matchesReference && !check.matchesPath;
  }
  EXPECT_GT(carriedFrames, 0u);
  EXPECT_EQ(caught, carriedFrames);
}

TEST_F(ScriptedSceneTest, EngineSettingsSettleFromTheImagesConsoleValues) {
  settings.unlockAbove120 = 1;
  settings.stabilizeMouseSensitivity = 1;
  setStandInConsoleValues({0, 1, 1});  // frame spinning off, triple buffering on, mouse fix on
  ASSERT_TRUE(installCameraHook());
  startScene(run, kStandardScene);
  for (int f = 0; f < 3; ++f) driveSceneFrame(run);
  const StandInConsoleValues values = standInConsoleValues();
  EXPECT_EQ(values.frameSpinning, 0);
  EXPECT_EQ(values.tripleBuffering, 1);
  EXPECT_EQ(values.mouseFix, 0);
  EXPECT_EQ(readLogLines(), (std::vector<std::string>{
                                "Installed Dishonored 2 high-FPS camera hook at RVA 0xA395A6; F10 toggles it.",
                                "UnlockAbove120 was not applied because Triple Buffering is enabled.",
                                "Stabilized mouse sensitivity by applying g_fixMouseSensibility=0.",
                            }));
}

}  // namespace
