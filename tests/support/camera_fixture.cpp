#include "tests/support/camera_fixture.h"

#include <cstring>

#include "bootstrap/install.h"
#include "bootstrap/settings.h"
#include "camera/test_seam.h"
#include "patch/hooks.h"
#include "platform/platform.h"
#include "tests/support/library_dir.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;
using namespace corvane::os;

void CameraHostTest::SetUp() {
  useFreshLibraryDirectory();
  installCameraHost();
  resetCameraStateForTests();
  settings = Settings{};
  telemetryView = nullptr;
}

void CameraHostTest::publishTelemetryInto(TelemetryBlock& block) {
  std::memset(&block, 0, sizeof block);
  block.version = kTelemetryVersion;
  block.size = kTelemetrySize;
  telemetryView = &block;
}

void CameraHostTest::TearDown() {
  telemetryView = nullptr;
  settings = Settings{};
  resetPlatform();
}

uint64_t CameraHostTest::frame(double presentationTime, double sampleTime, const CameraPose& pose) {
  setClockTimes(presentationTime, sampleTime);
  float axes[9];
  yawAxes(pose.yawDegrees, axes);
  setViewPose(source, pose.origin, axes);
  return frameFrom(source);
}

uint64_t CameraHostTest::frameFrom(FakeView& view) { return ViewCopyHook(destination.bytes, view.bytes, 7, 9); }

bool CameraHostTest::presentsHostView() const {
  return std::memcmp(destination.bytes, lastViewCopyCall.source, kFakeViewSize) == 0;
}

void CameraHostTest::expectPresented(const float origin[3], double yawDegrees) const {
  float presentedOrigin[3], presentedAxes[9], expectedAxes[9];
  readViewPose(destination, presentedOrigin, presentedAxes);
  yawAxes(yawDegrees, expectedAxes);
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(presentedOrigin[i], origin[i], 1e-4 * (1.0 + std::fabs(origin[i]))) << "origin " << i;
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(presentedAxes[i], expectedAxes[i], 2e-6) << "axis component " << i;
  float copy[3];
  std::memcpy(copy, destination.bytes + 0xC0, sizeof copy);
  EXPECT_EQ(0, std::memcmp(copy, presentedOrigin, sizeof copy)) << "both origin copies are written";
}

std::vector<std::string> CameraHostTest::logLines() const { return readLogLines(); }
