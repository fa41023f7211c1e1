// The shared camera record as the view-copy hook writes it each frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bootstrap/install.h"
#include "camera/telemetry.h"
#include "camera/telemetry_access.h"
#include "camera/telemetry_write.h"
#include "camera/update_camera.h"
#include "tests/support/camera_fixture.h"

using namespace corvane::bootstrap;
using namespace corvane::camera;

namespace {

class TelemetryTest : public CameraHostTest {
 protected:
  void SetUp() override {
    CameraHostTest::SetUp();
    publishTelemetryInto(block);
  }
  TelemetryBlock snapshot() const {
    TelemetryBlock copy;
    EXPECT_TRUE(readTelemetrySnapshot(&block, &copy));
    return copy;
  }
  alignas(64) TelemetryBlock block;
};

const CameraPose kA{{5.0f, 6.0f, 7.0f}, 0.0};
const CameraPose kB{{5.5f, 6.0f, 7.0f}, 10.0};

TEST_F(TelemetryTest, EachFrameAdvancesTheSequenceByTwo) {
  for (int i = 0; i < 5; ++i) {
    frame(1.0 + i * 0.01, 1.0 + i * 0.01, kA);
    EXPECT_EQ(snapshot().sequence, 2u * (i + 1));
  }
  EXPECT_EQ(block.version, 1u);
  EXPECT_EQ(block.size, 144u);
}

TEST_F(TelemetryTest, SwitchOffShowsTheHostViewUnmodified) {
  setF10Down(true);
  frame(1.25, 1.5, kB);
  const TelemetryBlock t = snapshot();
  EXPECT_EQ(t.enabled, 0u);
  EXPECT_EQ(t.modified, 0u);
  EXPECT_TRUE(std::isnan(t.alpha));
  EXPECT_EQ(t.presentationTime, 1.25);
  EXPECT_EQ(t.sampleTime, 1.5);
  EXPECT_EQ(0, std::memcmp(t.sourceOrigin, kB.origin, sizeof t.sourceOrigin));
  EXPECT_EQ(0, std::memcmp(t.outputOrigin, kB.origin, sizeof t.outputOrigin));
  EXPECT_EQ(0, std::memcmp(t.sourceAxes, t.outputAxes, sizeof t.sourceAxes));
}

TEST_F(TelemetryTest, InterpolatedFrameCarriesItsFractionAndBothViews) {
  frame(1.0, 1.0, kA);
  EXPECT_EQ(snapshot().enabled, 1u);
  EXPECT_TRUE(std::isnan(snapshot().alpha));
  frame(1.0 + 1.5 * 0.02, 1.02, kB);
  const TelemetryBlock t = snapshot();
  EXPECT_EQ(t.enabled, 1u);
  EXPECT_EQ(t.modified, 1u);
  EXPECT_EQ(t.alpha, frameAlpha);
  EXPECT_NEAR(t.alpha, 1.5, 1e-9);
  EXPECT_EQ(0, std::memcmp(t.sourceOrigin, kB.origin, sizeof t.sourceOrigin));
  float presented[3], axes[9];
  readViewPose(destination, presented, axes);
  EXPECT_EQ(0, std::memcmp(t.outputOrigin, presented, sizeof presented));
  EXPECT_EQ(0, std::memcmp(t.outputAxes, axes, sizeof axes));
}

TEST_F(TelemetryTest, AtTheLatestSampleOnlyBitExactViewsCountAsUnmodified) {
  frame(1.0, 1.0, kA);
  frame(1.02, 1.02, kB);  // alpha 1: the blend lands on the latest sample up to rounding
  const TelemetryBlock t = snapshot();
  const bool same =
      std::memcmp(t.sourceOrigin, t.outputOrigin, 12) == 0 && std::memcmp(t.sourceAxes, t.outputAxes, 36) == 0;
  EXPECT_EQ(t.modified, same ? 0u : 1u);
}

TEST_F(TelemetryTest, ModifiedComparesBytesSoSignedZerosDifferAndEqualNaNsMatch) {
  float axes[9];
  yawAxes(0, axes);
  const float origin[3] = {0.0f, 1.0f, 2.0f};
  FakeView plain{};
  setViewPose(plain, origin, axes);
  const HostClock clock{true, 1.0, 1.0};

  FakeView negativeZero = plain;
  const float minusZero = -0.0f;
  std::memcpy(negativeZero.bytes + 0xA8, &minusZero, 4);
  writeTelemetry(negativeZero.bytes, plain.bytes, clock, true, NAN);
  EXPECT_EQ(snapshot().modified, 1u);

  FakeView nanAxes = plain;
  const uint32_t nanBits = 0x7FC00123u;
  std::memcpy(nanAxes.bytes + 0xCC + 8, &nanBits, 4);
  FakeView sameNanAxes = nanAxes;
  writeTelemetry(sameNanAxes.bytes, nanAxes.bytes, clock, true, NAN);
  EXPECT_EQ(snapshot().modified, 0u);

  FakeView turned = plain;
  const float minusZeroAxis = -0.0f;
  std::memcpy(turned.bytes + 0xCC + 8, &minusZeroAxis, 4);  // axis component 2 is +0.0 in `plain`
  writeTelemetry(turned.bytes, plain.bytes, clock, true, NAN);
  EXPECT_EQ(snapshot().modified, 1u);
}

TEST_F(TelemetryTest, WithoutAClockBothTimesAndTheFractionAreNaN) {
  setClockPointer(nullptr);
  frame(1.0, 1.0, kA);
  const TelemetryBlock t = snapshot();
  EXPECT_TRUE(std::isnan(t.presentationTime));
  EXPECT_TRUE(std::isnan(t.sampleTime));
  EXPECT_TRUE(std::isnan(t.alpha));
}

TEST_F(TelemetryTest, NonFiniteClockValuesAreCopiedAsTheHostHoldsThem) {
  frame(INFINITY, 2.0, kA);
  const TelemetryBlock t = snapshot();
  EXPECT_EQ(t.presentationTime, INFINITY);
  EXPECT_EQ(t.sampleTime, 2.0);
}

TEST_F(TelemetryTest, NoBlockNoWrite) {
  telemetryView = nullptr;
  frame(1.0, 1.0, kA);
  EXPECT_EQ(block.sequence, 0u);
  EXPECT_EQ(block.enabled, 0u);
}

TEST(TelemetrySnapshot, RefusesAWriteInProgressAndAnOverlappedCopy) {
  alignas(64) TelemetryBlock block{};
  TelemetryBlock copy;
  block.sequence = 3;
  EXPECT_FALSE(readTelemetrySnapshot(&block, &copy));
  block.sequence = 4;
  block.enabled = 1;
  ASSERT_TRUE(readTelemetrySnapshot(&block, &copy));
  EXPECT_EQ(copy.sequence, 4u);
  EXPECT_EQ(copy.enabled, 1u);
}

}  // namespace
