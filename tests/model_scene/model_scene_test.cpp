// The stand-in game's models, shadows and skeletons played through the real
// patched entries of the stand-in image (the installers' patches, stubs and
// hook bodies), each frame checked by the driver's own arithmetic.
#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "bootstrap/settings.h"
#include "camera/test_seam.h"
#include "diagnostics/test_seam.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "shadow/test_seam.h"
#include "skeletal/test_seam.h"
#include "tests/standin/model_scene_drive.h"
#include "tests/standin/standin_casters.h"
#include "tests/standin/standin_palettes.h"
#include "tests/support/library_dir.h"
#include "tests/support/native_standin.h"
#include "world/test_seam.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::os;
using namespace corvane::patch;
using namespace corvane::shadow;
using namespace corvane::skeletal;
using namespace corvane::world;

namespace {

constexpr uint64_t kFrames = 720;

std::string failures() {
  std::string text;
  for (int i = 0; i < kKeptFailureTexts; ++i) text += std::string(modelSceneFailureText(i)) + "\n";
  return text;
}

class ModelSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    useFreshLibraryDirectory();
    ASSERT_NE(useNativeStandInHost(), nullptr);
    settings = Settings{};
    settings.worldTransforms = settings.cinematicTransforms = settings.shadowTransforms = 1;
    settings.firstPersonSkeletons = settings.worldSkeletons = settings.cinematicSkeletons = 1;
    resetCameraStateForTests();
    resetWorldTracksForTests();
    resetObservedVtablesForTests();
    resetSkeletalTablesForTests();
    resetPoseUploadOnceFlagsForTests();
    resetShadowPublicationForTests();
    resetReportSchedulesForTests();
    resetCountersForTests();
    resetGpuCopyLogFlagsForTests();
  }
  void TearDown() override {
    resetPlatform();
    settings = Settings{};
  }
  void install() {
    ASSERT_TRUE(installCameraHook());
    ASSERT_TRUE(installGpuCopyHook());
    ASSERT_TRUE(installPoseUploadHook());
    ASSERT_TRUE(installShadowProxies());
  }
};

TEST_F(ModelSceneTest, ModelsShadowsAndSkeletonsReachTheRendererAtThePresentationTime) {
  install();
  startModelScene(ModelScene{}, kStandardScene);
  for (uint64_t f = 0; f < kFrames; ++f) driveModelSceneFrame();
  ASSERT_EQ(modelSceneFailures(), 0u) << failures();

  // Every moving followed model is carried on every frame from its first pair
  // on, except around the teleport and the mirror flip; the shadows and
  // skeletons follow.
  const ModelSceneTally& t = modelSceneTally();
  EXPECT_EQ(t.frames, kFrames);
  EXPECT_GT(t.carried, 7 * (kFrames - 3) - 20);
  EXPECT_GT(t.carriedSkinned, 0u);
  EXPECT_GT(t.carriedCinematic, 0u);
  EXPECT_GE(t.shadowCarried, t.carried);  // list 0 holds every model; list 1 some again
  EXPECT_GT(t.palettesCarried, 5 * (kFrames - 3) - 5);
  EXPECT_GT(t.forced, 0u);
  EXPECT_GT(t.declined, 0u);

  char message[1024];
  EXPECT_TRUE(reportMatchesTally(readLogRaw().c_str(), 600, message, sizeof message)) << message;
}

TEST_F(ModelSceneTest, OneRendererThreadGivesTheSameTally) {
  install();
  ModelScene scene;
  scene.rendererThreads = 1;
  startModelScene(scene, kStandardScene);
  for (uint64_t f = 0; f < 200; ++f) driveModelSceneFrame();
  ASSERT_EQ(modelSceneFailures(), 0u) << failures();
  EXPECT_GT(modelSceneTally().carried, 0u);
  // For comparing two builds: the same scene on one thread hands the game the same bytes.
  std::printf("received digest %016llx\n", static_cast<unsigned long long>(modelSceneReceivedDigest()));
}

TEST_F(ModelSceneTest, UnpatchedImageIsCaughtHandingTheHostsMatrices) {
  // Without Corvane the renderer gets the host's own records, shadows and
  // palettes: the checks must notice, or they would prove nothing.
  ASSERT_TRUE(installCameraHook());
  startModelScene(ModelScene{}, kStandardScene);
  uint64_t failingFrames = 0;
  for (uint64_t f = 0; f < 60; ++f) failingFrames += !driveModelSceneFrame();
  EXPECT_GT(failingFrames, 50u);
  EXPECT_EQ(modelSceneTally().carried, 0u);
  EXPECT_EQ(modelSceneTally().palettesCarried, 0u);
  EXPECT_NE(std::string(modelSceneFailureText(0)).find("world matrix off the blend"), std::string::npos) << failures();
}

}  // namespace
