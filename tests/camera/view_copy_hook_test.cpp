// What one call of the view-copy hook hands back to the host and publishes for
// the renderer hooks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "camera/camera_correction.h"
#include "camera/frame_state.h"
#include "camera/update_camera.h"
#include "diagnostics/report_schedule.h"
#include "bootstrap/settings.h"
#include "diagnostics/test_seam.h"
#include "math/transform.h"
#include "patch/hooks.h"
#include "tests/support/camera_fixture.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::diagnostics;
using namespace corvane::math;

namespace {

class ViewCopyHookTest : public CameraHostTest {};

const CameraPose kA{{-40.0f, 7.0f, 1.5f}, 80.0};
const CameraPose kB{{-39.0f, 7.25f, 1.5f}, 95.0};

void expectIdentity(const Matrix4x4& m) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], (i % 5 == 0) ? 1.0f : 0.0f, 2e-5) << "element " << i;
}

TEST_F(ViewCopyHookTest, PassesArgumentsAndResultThroughInEveryState) {
  for (int enabled = 0; enabled < 2; ++enabled) {
    cameraEnabled = enabled != 0;
    for (uint64_t a3 : {0ull, 0xFFFFFFFFFFFFFFFFull, 12345ull}) {
      setClockTimes(1.0, 1.0);
      float axes[9];
      yawAxes(0, axes);
      setViewPose(source, kA.origin, axes);
      const uint64_t calls = viewCopyCalls;
      const uint64_t result = ViewCopyHook(destination.bytes, source.bytes, a3, a3 ^ 0x55);
      EXPECT_EQ(viewCopyCalls, calls + 1);
      EXPECT_EQ(lastViewCopyCall.destination, destination.bytes);
      EXPECT_EQ(lastViewCopyCall.source, source.bytes);
      EXPECT_EQ(lastViewCopyCall.a3, a3);
      EXPECT_EQ(lastViewCopyCall.a4, a3 ^ 0x55);
      EXPECT_EQ(result, expectedViewCopyResult(destination.bytes, a3, a3 ^ 0x55));
    }
  }
  setClockPointer(nullptr);
  EXPECT_EQ(ViewCopyHook(destination.bytes, source.bytes, 3, 4), expectedViewCopyResult(destination.bytes, 3, 4));
}

TEST_F(ViewCopyHookTest, WithTheSwitchOffTheHostViewStaysAndTheCorrectionIsIdentity) {
  setF10Down(true);
  frame(1.0, 1.0, kA);
  setF10Down(false);
  ASSERT_FALSE(cameraEnabled);
  frame(1.03, 1.02, kB);
  EXPECT_TRUE(presentsHostView());
  const CameraCorrection c = copyCameraCorrection();
  EXPECT_TRUE(c.currentValid);
  expectIdentity(c.currentForward);
  expectIdentity(c.currentInverse);
}

TEST_F(ViewCopyHookTest, EachCallAdvancesBothSerialsAndShiftsTheCorrection) {
  frame(1.0, 1.0, kA);
  const CameraCorrection first = copyCameraCorrection();
  const PresentationFrame firstFrame = copyPresentationFrame();
  EXPECT_EQ(latestPresentationSerial.load(), firstFrame.presentationSerial);

  frame(1.0 + 1.5 * 0.02, 1.02, kB);  // interpolated: the correction moves the camera
  const CameraCorrection second = copyCameraCorrection();
  const PresentationFrame secondFrame = copyPresentationFrame();
  EXPECT_EQ(second.cameraSerial, first.cameraSerial + 1);
  EXPECT_EQ(secondFrame.presentationSerial, firstFrame.presentationSerial + 1);
  EXPECT_EQ(latestPresentationSerial.load(), secondFrame.presentationSerial);
  EXPECT_EQ(secondFrame.presentationTime, 1.0 + 1.5 * 0.02);
  EXPECT_EQ(secondFrame.sampleTime, 1.02);
  EXPECT_TRUE(secondFrame.timesValid);
  EXPECT_EQ(second.previousValid, first.currentValid);
  EXPECT_EQ(0, std::memcmp(&second.previousForward, &first.currentForward, sizeof(Matrix4x4)));
  EXPECT_EQ(0, std::memcmp(&second.previousInverse, &first.currentInverse, sizeof(Matrix4x4)));
  ASSERT_TRUE(second.currentValid);

  // The forward correction carries the host's camera onto the presented one.
  RigidTransform host{}, presented{};
  float origin[3];
  readViewPose(destination, origin, presented.rotation);
  for (int i = 0; i < 3; ++i) presented.translation[i] = origin[i];
  for (int i = 0; i < 3; ++i) host.translation[i] = kB.origin[i];
  yawAxes(kB.yawDegrees, host.rotation);
  Matrix4x4 carried;
  multiplyMatrix4x4(second.currentForward, cameraWorldMatrix(host), &carried);
  const Matrix4x4 target = cameraWorldMatrix(presented);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(carried.m[i], target.m[i], 1e-4) << "element " << i;
}

TEST_F(ViewCopyHookTest, FirstCallOfTheProcessPublishesCameraSerialOneWithoutAPreviousPair) {
  // Earlier tests of this program have published: the call runs in a new process.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        frame(1.0, 1.0, kA);
        const CameraCorrection c = copyCameraCorrection();
        std::_Exit(c.cameraSerial == 1 && !c.previousValid && c.currentValid ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(ViewCopyHookTest, WithoutAClockTheFrameStillCounts) {
  frame(1.0, 1.0, kA);
  const uint64_t serial = copyPresentationFrame().presentationSerial;
  const uint64_t cameraSerial = copyCameraCorrection().cameraSerial;
  for (const char* why : {"absent", "foreign"}) {
    SCOPED_TRACE(why);
    if (std::strcmp(why, "absent") == 0) setClockPointer(nullptr);
    else setClockIdentity(validClockIdentity() ^ 0x10);
    frame(2.0, 2.0, kA);
    const PresentationFrame f = copyPresentationFrame();
    EXPECT_EQ(f.presentationTime, 0.0);
    EXPECT_EQ(f.sampleTime, 0.0);
    EXPECT_FALSE(f.timesValid);
    useOwnClock();
    setClockIdentity(validClockIdentity());
  }
  EXPECT_EQ(copyPresentationFrame().presentationSerial, serial + 2);
  EXPECT_EQ(copyCameraCorrection().cameraSerial, cameraSerial + 2);
}

TEST_F(ViewCopyHookTest, NonFiniteClockTimesArePublishedAsInvalid) {
  frame(NAN, 3.0, kA);
  const PresentationFrame f = copyPresentationFrame();
  EXPECT_FALSE(f.timesValid);
  EXPECT_EQ(f.sampleTime, 3.0);
}

TEST_F(ViewCopyHookTest, NonFinitePoseGivesAnInvalidCorrection) {
  float axes[9];
  yawAxes(0, axes);
  axes[2] = NAN;
  setViewPose(source, kA.origin, axes);
  frameFrom(source);
  EXPECT_FALSE(copyCameraCorrection().currentValid);
  EXPECT_TRUE(presentsHostView());
}

}  // namespace

namespace {

// Earlier tests of this program may have presented more frames than the first
// due serial; no report may come before the one a test makes due.
void holdReportsBack() {
  nextWorldReport.store(UINT64_MAX);
  nextSkeletalReport.store(UINT64_MAX);
}

TEST_F(ViewCopyHookTest, DueReportsCarryTheHookFrameWorldFirst) {
  settings.worldTransforms = 1;
  settings.worldSkeletons = 1;
  holdReportsBack();
  frame(1.0, 1.0, kA);
  const uint64_t due = copyPresentationFrame().presentationSerial + 2;
  nextWorldReport.store(due);
  nextSkeletalReport.store(due);
  frame(1.01, 1.01, kA);
  EXPECT_TRUE(logLines().empty());
  frame(1.02, 1.02, kA);
  const std::vector<std::string> lines = logLines();
  ASSERT_EQ(lines.size(), 5u);
  const std::string serial = "frame=" + std::to_string(due) + ":";
  EXPECT_EQ(lines[0].rfind("World diagnostics " + serial, 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("World cinematic " + serial, 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("Skeletal diagnostics " + serial, 0), 0u) << lines[2];
  EXPECT_EQ(nextWorldReport.load(), due + 1200);
  resetReportSchedulesForTests();
}

TEST_F(ViewCopyHookTest, NoReportOnAFrameWithoutAClock) {
  settings.worldTransforms = 1;
  holdReportsBack();
  frame(1.0, 1.0, kA);
  nextWorldReport.store(copyPresentationFrame().presentationSerial + 1);
  setClockPointer(nullptr);
  frame(1.01, 1.01, kA);
  EXPECT_TRUE(logLines().empty());
  resetReportSchedulesForTests();
}

}  // namespace
